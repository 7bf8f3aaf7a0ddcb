// korvaden-lab-link: the network lab's link with delay and random loss, which this kernel cannot
// make (it has no netem). It joins two TUN devices in user space. A shaped direction: what the
// sending side's device sends meets random loss, a tail-drop FIFO in front of a bottleneck of the
// given rate, and a constant one-way delay, then it is written into the other device. An unshaped
// direction has the same delay only, without rate, queue or loss, as acknowledgements come back on
// a line whose other direction is far from full. --direction up (the default) shapes the uplink,
// from the client's device to the server's, as an upload meets it, and --direction down the
// downlink, from the server's device to the client's, as a download meets it; --rate-mbit,
// --queue-ms, --loss, --truth and --queue-log then speak of that direction. --direction both shapes
// both, as a line test that loads each direction in turn and then both at once meets them, and the
// two may differ as on an asymmetric line: those options speak of the uplink, and the --down-*
// options and --truth-down and --queue-log-down of the downlink. The delay is the same each way.
//
//   korvaden-lab-link --client-dev NAME --server-dev NAME --rate-mbit MBIT --duration SECONDS
//                     [--direction up|down|both (up)] [--delay-ms MS (0)] [--queue-ms MS (200)]
//                     [--loss P (0)] [--seed N (1)] [--truth FILE] [--queue-log FILE]
//                     [--down-rate-mbit MBIT] [--down-queue-ms MS (200)] [--down-loss P (0)]
//                     [--truth-down FILE] [--queue-log-down FILE]
//
// --direction both needs --down-rate-mbit; the --down-* options and the two files of the downlink
// are refused without it, so that a figure meant for the downlink is never silently ignored.
//
// The devices: it creates both (IFF_TUN | IFF_NO_PI, not persistent) in the namespace it runs in,
// prints the line "bereit" and leaves the rest to its caller: move each device into its namespace
// (ip link set NAME netns NS), give it its address, MTU 1500 and bring it up. Its descriptors stay
// attached across the move; until a device is up, writes into it fail and those packets are lost.
// When it ends, closing its descriptors removes the devices, in whatever namespace they are.
// Without IFF_VNET_HDR a TUN device offers no segmentation offloads, so the kernel hands it no
// packet larger than its MTU.
//
// A shaped direction, per packet and in this order:
//   loss   dropped with probability --loss (std::mt19937_64 seeded with --seed: runs repeat; with
//          both shaped the downlink's is seeded with --seed + 1, so that the two directions do not
//          lose the same packet numbers);
//   queue  dropped when it would wait longer than --queue-ms before its serialisation begins,
//          that is when the bytes ahead of it exceed rate × queue time;
//   rate   its serialisation ends at max(arrival, link free) + size × 8 / rate, size counting
//          the IP packet (a TUN device has no link-layer header);
//   delay  --delay-ms after that it is written into the receiving side's device.
// Everything runs on CLOCK_MONOTONIC. Packets in flight wait in deques: the FIFO holds at most
// the queue time's worth of the rate, the delay lines what the rate and delay can have in flight.
//
// Each shaped direction's truth file (--truth, and --truth-down with both shaped) gets a line every
// 50 ms and one at the end, each written whole and at once; with both shaped the two files get
// their lines at the same times, except for the downlink's step lines below:
//   MONOTONIC_NS IN_ORDER_BYTES QUEUE_DELAY_P95_US QUEUE_DELAY_MAX_US PACKETS DROPPED_QUEUE DROPPED_LOSS
// MONOTONIC_NS        CLOCK_MONOTONIC when the line was written (std::chrono::steady_clock on Linux).
// IN_ORDER_BYTES      since the start, summed over all IPv4 TCP flows of the shaped direction:
//                     payload written into the receiving side's device (the server's on the
//                     uplink, the client's on the downlink) with no hole below it, that is up to
//                     each flow's first sequence number not yet delivered: what the receiver can
//                     read. Retransmissions count once; data beyond a hole counts when the hole is
//                     filled. A flow stops counting once the receiving side has reset it: what
//                     arrives after that, no one reads.
// QUEUE_DELAY_*_US    over the shaped packets that left the FIFO (began their serialisation) since
//                     the previous line: time waited in the FIFO, without their own serialisation;
//                     0 when there were none.
// PACKETS             shaped packets read from the sending side's device since the previous line;
// DROPPED_QUEUE       of these the ones dropped at the full FIFO, DROPPED_LOSS the ones lost at random.
// On the downlink the program reads what arrives at once, so a filled hole's step must show where
// it happened, not smeared over 50 ms by a reader that interpolates between lines: there a delivery
// that fills a hole also gets a line with the bytes before it and one a nanosecond later with the
// bytes after it. With both shaped the uplink's file gets such lines too: the line test's judge
// bounds each phase's bytes by the lines around its window, and a step smeared over 50 ms would
// loosen that bound by all the bytes the hole held back. Lines always come with rising times.
//
// The queue log (--queue-log, and --queue-log-down with both shaped) gets a line for every packet
// of its direction that left the FIFO or was dropped. The lines are gathered in memory and written
// with one write() whenever a truth line is due, with or without a truth file, and at the end, so
// a packet costs no system call:
//   MONOTONIC_NS WAIT_US   it began its serialisation at MONOTONIC_NS after waiting WAIT_US in the
//                          FIFO (µs, rounded down, as in QUEUE_DELAY_*_US);
//   MONOTONIC_NS D         it was dropped, at the full FIFO or at random; MONOTONIC_NS is when it was read.
// The clock is the truth file's. Lines come in the order the link handled the packets, so a drop
// can come before a start with a slightly earlier time.
//
// It ends after --duration, or on SIGTERM or SIGINT, writing its last truth line and on stderr a
// line with its packet counts and CPU time. On errors it says why on stderr and exits with 1.

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <compare>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kTruthInterval = 50'000'000;
// The largest IPv4 packet; without offloads no more than the device's MTU arrives.
constexpr std::size_t kMaxPacket = 65535;
// Reads per device and wake-up, so a burst on one side cannot hold back packets due on the other.
constexpr int kReadsPerWakeup = 64;

volatile std::sig_atomic_t stopRequested = 0;

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * kNsPerSecond + now.tv_nsec;
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "korvaden-lab-link: %s\n", message.c_str());
  std::exit(1);
}

std::string WithErrno(const std::string& what) { return what + ": " + std::strerror(errno); }

struct Options {
  std::string clientDev;
  std::string serverDev;
  std::string truthPath;
  std::string queueLogPath;
  std::string downTruthPath;
  std::string downQueueLogPath;
  std::string direction = "up";
  double rateMbit = 0;
  double delayMs = 0;
  double queueMs = 200;
  double loss = 0;
  double downRateMbit = 0;
  double downQueueMs = 200;
  double downLoss = 0;
  double durationSeconds = 0;
  double seed = 1;  // a whole number; doubles hold those exactly up to 2^53
};

double ParseNumber(const std::string& flag, const char* text, double min, double max) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(value >= min && value <= max)) {
    Fail("Ungültiger Wert für " + flag + ": " + text);
  }
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  struct Number {
    double* value;
    double min;
    double max;
  };
  const std::map<std::string, std::string*> texts{{"--client-dev", &options.clientDev},
                                                  {"--server-dev", &options.serverDev},
                                                  {"--truth", &options.truthPath},
                                                  {"--queue-log", &options.queueLogPath},
                                                  {"--direction", &options.direction},
                                                  {"--truth-down", &options.downTruthPath},
                                                  {"--queue-log-down", &options.downQueueLogPath}};
  const std::map<std::string, Number> numbers{{"--rate-mbit", {&options.rateMbit, 0.001, 100'000}},
                                              {"--delay-ms", {&options.delayMs, 0, 60'000}},
                                              {"--queue-ms", {&options.queueMs, 0, 60'000}},
                                              {"--loss", {&options.loss, 0, 1}},
                                              {"--down-rate-mbit", {&options.downRateMbit, 0.001, 100'000}},
                                              {"--down-queue-ms", {&options.downQueueMs, 0, 60'000}},
                                              {"--down-loss", {&options.downLoss, 0, 1}},
                                              {"--duration", {&options.durationSeconds, 0.001, 86'400}},
                                              {"--seed", {&options.seed, 0, 1e15}}};
  std::vector<std::string> downOnly;
  for (int i = 1; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) Fail("Wert fehlt für " + flag);
    if (flag.find("-down") != std::string::npos) downOnly.push_back(flag);
    if (const auto text = texts.find(flag); text != texts.end()) {
      *text->second = argv[i + 1];
    } else if (const auto number = numbers.find(flag); number != numbers.end()) {
      *number->second.value = ParseNumber(flag, argv[i + 1], number->second.min, number->second.max);
    } else {
      Fail("Unbekannte Option: " + flag);
    }
  }
  if (options.clientDev.empty() || options.serverDev.empty() || options.rateMbit == 0 || options.durationSeconds == 0) {
    Fail("Nötig sind --client-dev, --server-dev, --rate-mbit und --duration");
  }
  if (options.direction != "up" && options.direction != "down" && options.direction != "both") {
    Fail("--direction ist up, down oder both, nicht " + options.direction);
  }
  // The downlink's own figures mean something only when both directions are shaped; elsewhere
  // they would be ignored without a word.
  if (options.direction != "both" && !downOnly.empty()) Fail(downOnly.front() + " gilt nur mit --direction both");
  if (options.direction == "both" && options.downRateMbit == 0) Fail("--direction both braucht --down-rate-mbit");
  if (options.seed != static_cast<double>(static_cast<std::uint64_t>(options.seed))) {
    Fail("--seed muss eine ganze Zahl sein");
  }
  return options;
}

int OpenTun(const std::string& name) {
  if (name.size() >= IFNAMSIZ) Fail("Gerätename zu lang (höchstens 15 Zeichen): " + name);
  const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail(WithErrno("/dev/net/tun lässt sich nicht öffnen"));
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::memcpy(request.ifr_name, name.data(), name.size());
  if (ioctl(fd, TUNSETIFF, &request) != 0) Fail(WithErrno("TUN-Gerät " + name + " lässt sich nicht anlegen"));
  return fd;
}

std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t{Be16(p)} << 16 | Be16(p + 2); }

struct FlowKey {
  std::uint32_t source = 0;
  std::uint32_t destination = 0;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  auto operator<=>(const FlowKey&) const = default;
};

struct TcpSegment {
  FlowKey flow;
  std::uint32_t sequence = 0;
  std::uint32_t payload = 0;
  bool syn = false;
  bool rst = false;
};

// An unfragmented IPv4 TCP segment; nothing for every other packet.
std::optional<TcpSegment> ParseTcp(const std::uint8_t* ip, std::size_t size) {
  if (size < 40 || ip[0] >> 4 != 4 || ip[9] != IPPROTO_TCP) return std::nullopt;
  const std::size_t ipHeader = (ip[0] & 0x0f) * 4u;
  const std::size_t total = Be16(ip + 2);
  if ((Be16(ip + 6) & 0x3fff) != 0 || ipHeader < 20 || total > size || total < ipHeader + 20) return std::nullopt;
  const std::uint8_t* tcp = ip + ipHeader;
  const std::size_t tcpHeader = (tcp[12] >> 4) * 4u;
  if (tcpHeader < 20 || ipHeader + tcpHeader > total) return std::nullopt;
  TcpSegment segment;
  segment.flow = {Be32(ip + 12), Be32(ip + 16), Be16(tcp), Be16(tcp + 2)};
  segment.sequence = Be32(tcp + 4);
  segment.payload = static_cast<std::uint32_t>(total - ipHeader - tcpHeader);
  segment.syn = (tcp[13] & 0x02) != 0;
  segment.rst = (tcp[13] & 0x04) != 0;
  return segment;
}

// Per TCP flow of the shaped direction, the sequence space delivered without a hole. Positions are byte offsets
// from the flow's first data byte, 64 bits wide; a sequence number becomes one by its serial
// distance from the first byte not yet delivered, which survives the 32-bit wrap.
class InOrderTracker {
 public:
  std::uint64_t Total() const { return total_; }

  void Delivered(const TcpSegment& segment) {
    auto [entry, fresh] = flows_.try_emplace(segment.flow);
    Flow& flow = entry->second;
    if (segment.syn && (fresh || flow.reset || flow.edgeSequence != segment.sequence + 1)) {
      flow = Flow{};  // a new connection, perhaps on the addresses and ports of an old one
      flow.edgeSequence = segment.sequence + 1;
    } else if (fresh) {
      flow.edgeSequence = segment.sequence;  // it began before we did: count from here
    }
    if (flow.reset || segment.payload == 0) return;
    const std::uint32_t first = segment.sequence + (segment.syn ? 1 : 0);
    const auto start = static_cast<std::int64_t>(flow.edge) + static_cast<std::int32_t>(first - flow.edgeSequence);
    Add(flow, start, start + segment.payload);
  }

  // A reset from the receiving side ends its flow's count.
  void FromReceiver(const TcpSegment& segment) {
    if (!segment.rst) return;
    const FlowKey shaped{segment.flow.destination, segment.flow.source, segment.flow.destinationPort,
                         segment.flow.sourcePort};
    if (auto entry = flows_.find(shaped); entry != flows_.end()) {
      entry->second.reset = true;
      entry->second.beyondHole.clear();
    }
  }

 private:
  struct Flow {
    std::uint64_t edge = 0;                             // offset of the first byte not yet delivered
    std::uint32_t edgeSequence = 0;                     // its sequence number
    std::map<std::uint64_t, std::uint64_t> beyondHole;  // delivered [start, end) above the edge
    bool reset = false;
  };

  void Add(Flow& flow, std::int64_t start, std::int64_t end) {
    const auto edge = static_cast<std::int64_t>(flow.edge);
    if (end <= edge) return;  // a retransmission of what has arrived already
    if (start > edge) {
      RememberBeyondHole(flow.beyondHole, static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end));
      return;
    }
    auto reached = static_cast<std::uint64_t>(end);
    auto& beyond = flow.beyondHole;
    while (!beyond.empty() && beyond.begin()->first <= reached) {
      reached = std::max(reached, beyond.begin()->second);
      beyond.erase(beyond.begin());
    }
    total_ += reached - flow.edge;
    flow.edgeSequence += static_cast<std::uint32_t>(reached - flow.edge);
    flow.edge = reached;
  }

  static void RememberBeyondHole(std::map<std::uint64_t, std::uint64_t>& ranges, std::uint64_t start,
                                 std::uint64_t end) {
    auto next = ranges.upper_bound(start);
    if (next != ranges.begin() && std::prev(next)->second >= start) {
      --next;
      start = next->first;
      end = std::max(end, next->second);
      next = ranges.erase(next);
    }
    while (next != ranges.end() && next->first <= end) {
      end = std::max(end, next->second);
      next = ranges.erase(next);
    }
    ranges.emplace(start, end);
  }

  std::map<FlowKey, Flow> flows_;
  std::uint64_t total_ = 0;
};

struct Packet {
  std::int64_t due = 0;  // in the FIFO: when its serialisation begins; after it: when it is written out
  std::int64_t waitedNs = 0;
  std::int64_t serialisationNs = 0;
  std::vector<std::uint8_t> bytes;
};

// Shaped packets since the start: read from the sending side, dropped at the full FIFO, lost at random.
struct Counts {
  std::uint64_t packets = 0;
  std::uint64_t droppedQueue = 0;
  std::uint64_t droppedLoss = 0;
};

// What one direction does to its packets; a rate of 0 leaves it unshaped, with the delay only.
struct WaySettings {
  double rateMbit = 0;
  double queueMs = 0;
  double loss = 0;
  std::uint64_t seed = 1;
  int truthFd = -1;
  int queueLogFd = -1;
  // A filled hole gets truth lines of its own: on the downlink, and on both ways when both are shaped.
  bool stepLines = false;
};

// One direction of the link, from the device it reads to the device it writes into.
class Way {
 public:
  Way(int fromFd, int toFd, const WaySettings& settings, std::int64_t delayNs)
      : fromFd_(fromFd),
        toFd_(toFd),
        settings_(settings),
        nsPerByte_(settings.rateMbit > 0 ? 8'000.0 / settings.rateMbit : 0),
        delayNs_(delayNs),
        queueNs_(static_cast<std::int64_t>(settings.queueMs * 1e6)),
        random_(settings.seed) {}

  bool Shaped() const { return settings_.rateMbit > 0; }
  int FromFd() const { return fromFd_; }
  std::uint64_t Packets() const { return counts_.packets; }
  std::uint64_t InOrder() const { return tracker_.Total(); }

  // What the sending device has now. A reset in it ends the count of its flow in the opposite
  // way, whose receiver it comes from.
  void Read(std::vector<std::uint8_t>& buffer, Way& opposite) {
    std::size_t size = 0;
    for (int i = 0; i < kReadsPerWakeup && ReadPacket(buffer, size); ++i) {
      ++counts_.packets;
      const std::int64_t now = NowNs();
      if (opposite.Shaped()) {
        if (const auto segment = ParseTcp(buffer.data(), size)) opposite.tracker_.FromReceiver(*segment);
      }
      if (!Shaped()) {
        Packet packet;
        packet.due = now + delayNs_;
        packet.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
        line_.push_back(std::move(packet));
      } else if (settings_.loss > 0 && lossDraw_(random_) < settings_.loss) {
        ++counts_.droppedLoss;
        LogDrop(now);
      } else {
        Enqueue(buffer, size, now);
      }
    }
  }

  // Packets whose serialisation has begun leave the FIFO for the delay line; what is due is written.
  void Advance(std::int64_t now) {
    while (!fifo_.empty() && fifo_.front().due <= now) {
      Packet packet = std::move(fifo_.front());
      fifo_.pop_front();
      slotWaitsNs_.push_back(packet.waitedNs);
      LogStart(packet.due, packet.waitedNs);
      packet.due += packet.serialisationNs + delayNs_;
      line_.push_back(std::move(packet));
    }
    WriteDue(now);
  }

  std::int64_t NextDue(std::int64_t next) const {
    for (const auto* queue : {&fifo_, &line_}) {
      if (!queue->empty()) next = std::min(next, queue->front().due);
    }
    return next;
  }

  // The truth line and the queue log's lines since the last one; a shaped way only.
  void WriteTruth(std::int64_t now) { WriteTruth(now, tracker_.Total()); }

  // "N Pakete hinauf, davon …; M Byte TCP in Reihenfolge" for a shaped way, "N Pakete hinab" for
  // one that is not.
  std::string Summary(const std::string& way) const {
    std::string text = std::to_string(counts_.packets) + " Pakete " + way;
    if (!Shaped()) return text;
    return text + ", davon " + std::to_string(counts_.droppedQueue) + " an der vollen Warteschlange verworfen und " +
           std::to_string(counts_.droppedLoss) + " zufällig verloren";
  }

 private:
  // False when the device has nothing more to read now.
  bool ReadPacket(std::vector<std::uint8_t>& buffer, std::size_t& size) {
    const ssize_t n = read(fromFd_, buffer.data(), buffer.size());
    if (n >= 0) {
      size = static_cast<std::size_t>(n);
      return true;
    }
    if (errno == EAGAIN || errno == EINTR) return false;
    Fail(WithErrno("Lesen vom TUN-Gerät fehlgeschlagen (Gerät entfernt?)"));
  }

  // The FIFO in front of the bottleneck: linkFree_ is when the last accepted packet's
  // serialisation ends, so the time to it is what a newcomer waits.
  void Enqueue(const std::vector<std::uint8_t>& buffer, std::size_t size, std::int64_t now) {
    const std::int64_t start = std::max(now, linkFree_);
    if (start - now > queueNs_) {
      ++counts_.droppedQueue;
      LogDrop(now);
      return;
    }
    Packet packet;
    packet.due = start;
    packet.waitedNs = start - now;
    packet.serialisationNs = static_cast<std::int64_t>(static_cast<double>(size) * nsPerByte_ + 0.5);
    packet.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    linkFree_ = start + packet.serialisationNs;
    fifo_.push_back(std::move(packet));
  }

  // Writing fails while the device is not up yet; the packet is lost then, as on a dead link. What
  // reaches the receiving device of a shaped way counts for its truth.
  void WriteDue(std::int64_t now) {
    while (!line_.empty() && line_.front().due <= now) {
      const auto& bytes = line_.front().bytes;
      const bool written = write(toFd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
      if (written && Shaped()) {
        if (const auto segment = ParseTcp(bytes.data(), bytes.size())) {
          const std::uint64_t before = tracker_.Total();
          tracker_.Delivered(*segment);
          if (settings_.stepLines && tracker_.Total() - before > segment->payload) {
            const std::int64_t at = NowNs();
            WriteTruth(at, before);
            WriteTruth(at + 1, tracker_.Total());
          }
        }
      }
      line_.pop_front();
    }
  }

  // The queue log's lines, for a packet that began its serialisation and for one dropped.
  void LogStart(std::int64_t ns, std::int64_t waitedNs) {
    if (settings_.queueLogFd < 0) return;
    char line[48];
    const int length = std::snprintf(line, sizeof line, "%" PRId64 " %" PRId64 "\n", ns, waitedNs / 1000);
    queueLog_.append(line, static_cast<std::size_t>(length));
  }

  void LogDrop(std::int64_t ns) {
    if (settings_.queueLogFd < 0) return;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%" PRId64 " D\n", ns);
    queueLog_.append(line, static_cast<std::size_t>(length));
  }

  void WriteQueueLog() {
    if (queueLog_.empty()) return;
    if (write(settings_.queueLogFd, queueLog_.data(), queueLog_.size()) != static_cast<ssize_t>(queueLog_.size())) {
      Fail(WithErrno("Warteschlangenprotokoll lässt sich nicht schreiben"));
    }
    queueLog_.clear();
  }

  void WriteTruth(std::int64_t now, std::uint64_t inOrder) {
    now = std::max(now, lastTruthNs_ + 1);  // after a step's lines, which may be later than the loop's now
    lastTruthNs_ = now;
    WriteQueueLog();
    std::int64_t p95 = 0;
    std::int64_t max = 0;
    auto& waits = slotWaitsNs_;
    if (!waits.empty()) {
      const auto rank = waits.begin() + static_cast<std::ptrdiff_t>((waits.size() * 95 + 99) / 100 - 1);
      std::nth_element(waits.begin(), rank, waits.end());
      p95 = *rank;
      max = *std::max_element(waits.begin(), waits.end());
    }
    waits.clear();
    if (settings_.truthFd < 0) return;
    char line[256];
    const int length = std::snprintf(
        line, sizeof line, "%" PRId64 " %" PRIu64 " %" PRId64 " %" PRId64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", now,
        inOrder, p95 / 1000, max / 1000, counts_.packets - countsAtLastLine_.packets,
        counts_.droppedQueue - countsAtLastLine_.droppedQueue, counts_.droppedLoss - countsAtLastLine_.droppedLoss);
    countsAtLastLine_ = counts_;
    // One write per line, so a reader following the file never sees half a line.
    if (write(settings_.truthFd, line, static_cast<std::size_t>(length)) != length) {
      Fail(WithErrno("Wahrheitsdatei lässt sich nicht schreiben"));
    }
  }

  int fromFd_;
  int toFd_;
  WaySettings settings_;
  double nsPerByte_;
  std::int64_t delayNs_;
  std::int64_t queueNs_;
  std::mt19937_64 random_;
  std::uniform_real_distribution<double> lossDraw_{0.0, 1.0};
  std::deque<Packet> fifo_;  // shaped, waiting for the bottleneck
  std::deque<Packet> line_;  // serialising and then on its way to the receiving device
  std::int64_t linkFree_ = 0;
  std::int64_t lastTruthNs_ = 0;
  std::vector<std::int64_t> slotWaitsNs_;  // of the packets that left the FIFO since the last line
  std::string queueLog_;                   // its lines since then, for the queue log
  Counts counts_;
  Counts countsAtLastLine_;
  InOrderTracker tracker_;
};

class Link {
 public:
  Link(const Options& options, int clientFd, int serverFd, int truthFd, int queueLogFd, int downTruthFd,
       int downQueueLogFd)
      : up_(clientFd, serverFd, UpSettings(options, truthFd, queueLogFd),
            static_cast<std::int64_t>(options.delayMs * 1e6)),
        down_(serverFd, clientFd, DownSettings(options, truthFd, queueLogFd, downTruthFd, downQueueLogFd),
              static_cast<std::int64_t>(options.delayMs * 1e6)),
        buffer_(kMaxPacket) {}

  // Until end or a stop signal; signals are let through only while it waits in ppoll.
  void Run(std::int64_t end, const sigset_t& waitMask) {
    nextTruth_ = NowNs() + kTruthInterval;
    while (stopRequested == 0) {
      const std::int64_t now = NowNs();
      if (now >= end) break;
      up_.Advance(now);
      down_.Advance(now);
      if (now >= nextTruth_) {
        WriteTruth(now);
        nextTruth_ = std::max(nextTruth_ + kTruthInterval, now + 1);
      }
      pollfd fds[2] = {{up_.FromFd(), POLLIN, 0}, {down_.FromFd(), POLLIN, 0}};
      const std::int64_t wait =
          std::max<std::int64_t>(0, down_.NextDue(up_.NextDue(std::min(end, nextTruth_))) - NowNs());
      const timespec timeout{static_cast<time_t>(wait / kNsPerSecond), static_cast<long>(wait % kNsPerSecond)};
      if (ppoll(fds, 2, &timeout, &waitMask) < 0) {
        if (errno == EINTR) continue;
        Fail(WithErrno("ppoll fehlgeschlagen"));
      }
      if (fds[0].revents != 0) up_.Read(buffer_, down_);
      if (fds[1].revents != 0) down_.Read(buffer_, up_);
    }
    WriteTruth(NowNs());
  }

  std::string Summary() const {
    if (up_.Shaped() && down_.Shaped()) {
      return up_.Summary("hinauf") + ", " + std::to_string(up_.InOrder()) + " Byte TCP in Reihenfolge; " +
             down_.Summary("hinab") + ", " + std::to_string(down_.InOrder()) + " Byte TCP in Reihenfolge";
    }
    const Way& shaped = up_.Shaped() ? up_ : down_;
    const Way& back = up_.Shaped() ? down_ : up_;
    return shaped.Summary(up_.Shaped() ? "hinauf" : "hinab") + "; " + back.Summary(up_.Shaped() ? "hinab" : "hinauf") +
           "; " + std::to_string(shaped.InOrder()) + " Byte TCP in Reihenfolge";
  }

 private:
  // --rate-mbit and its companions shape the uplink unless --direction down gives them to the downlink.
  static WaySettings UpSettings(const Options& o, int truthFd, int queueLogFd) {
    if (o.direction == "down") return {};
    WaySettings up{o.rateMbit, o.queueMs, o.loss, static_cast<std::uint64_t>(o.seed), truthFd, queueLogFd, false};
    up.stepLines = o.direction == "both";
    return up;
  }

  static WaySettings DownSettings(const Options& o, int truthFd, int queueLogFd, int downTruthFd, int downQueueLogFd) {
    if (o.direction == "down") {
      return {o.rateMbit, o.queueMs, o.loss, static_cast<std::uint64_t>(o.seed), truthFd, queueLogFd, true};
    }
    if (o.direction != "both") return {};
    // A seed of its own, so the two directions do not lose the same packet numbers.
    const auto seed = static_cast<std::uint64_t>(o.seed) + 1;
    return {o.downRateMbit, o.downQueueMs, o.downLoss, seed, downTruthFd, downQueueLogFd, true};
  }

  void WriteTruth(std::int64_t now) {
    if (up_.Shaped()) up_.WriteTruth(now);
    if (down_.Shaped()) down_.WriteTruth(now);
  }

  Way up_;    // from the client's device to the server's
  Way down_;  // from the server's device to the client's
  std::vector<std::uint8_t> buffer_;
  std::int64_t nextTruth_ = 0;
};

void RequestStop(int) { stopRequested = 1; }

// Blocks SIGTERM and SIGINT outside ppoll, so a stop cannot slip in between the check and the wait;
// returns the mask to wait with.
sigset_t InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigset_t stops;
  sigset_t waitMask;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
  return waitMask;
}

// -1 for no path.
int OpenOutput(const std::string& path, const std::string& what) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail(WithErrno(what + " " + path + " lässt sich nicht anlegen"));
  return fd;
}

int OpenTruth(const std::string& path) { return OpenOutput(path, "Wahrheitsdatei"); }
int OpenLog(const std::string& path) { return OpenOutput(path, "Warteschlangenprotokoll"); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const sigset_t waitMask = InstallStopHandlers();
  // The default timer slack of 50 µs would make every wait, and so every delay, that much longer.
  prctl(PR_SET_TIMERSLACK, 1UL);
  const int clientFd = OpenTun(options.clientDev);
  const int serverFd = OpenTun(options.serverDev);
  const int truthFd = OpenTruth(options.truthPath);
  const int queueLogFd = OpenLog(options.queueLogPath);
  const int downTruthFd = OpenTruth(options.downTruthPath);
  const int downQueueLogFd = OpenLog(options.downQueueLogPath);
  std::printf("bereit\n");
  std::fflush(stdout);

  const std::int64_t start = NowNs();
  Link link(options, clientFd, serverFd, truthFd, queueLogFd, downTruthFd, downQueueLogFd);
  link.Run(start + static_cast<std::int64_t>(options.durationSeconds * 1e9), waitMask);

  const double elapsed = static_cast<double>(NowNs() - start) / 1e9;
  const double cpu = CpuSeconds();
  std::fprintf(stderr, "korvaden-lab-link: nach %.1f s: %s; CPU-Zeit %.2f s (%.1f %%)\n", elapsed,
               link.Summary().c_str(), cpu, elapsed > 0 ? cpu / elapsed * 100 : 0.0);
  close(clientFd);
  close(serverFd);
  for (const int fd : {truthFd, queueLogFd, downTruthFd, downQueueLogFd}) {
    if (fd >= 0) close(fd);
  }
  return 0;
}
