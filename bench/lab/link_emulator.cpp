// korvaden-lab-link: the network lab's link with delay and random loss, which this kernel cannot
// make (it has no netem). It joins two TUN devices in user space. One direction is the shaped
// one: what the sending side's device sends meets random loss, a tail-drop FIFO in front of a
// bottleneck of the given rate, and a constant one-way delay, then it is written into the other
// device. What comes back comes after the same delay, unshaped and without loss, as
// acknowledgements come back on a real line. --direction up (the default) shapes the uplink, from
// the client's device to the server's, as an upload meets it; --direction down shapes the
// downlink, from the server's device to the client's, as a download meets it. The truth file and
// the queue log speak of the shaped direction only.
//
//   korvaden-lab-link --client-dev NAME --server-dev NAME --rate-mbit MBIT --duration SECONDS
//                     [--direction up|down (up)] [--delay-ms MS (0)] [--queue-ms MS (200)]
//                     [--loss P (0)] [--seed N (1)] [--truth FILE] [--queue-log FILE]
//
// The devices: it creates both (IFF_TUN | IFF_NO_PI, not persistent) in the namespace it runs in,
// prints the line "bereit" and leaves the rest to its caller: move each device into its namespace
// (ip link set NAME netns NS), give it its address, MTU 1500 and bring it up. Its descriptors stay
// attached across the move; until a device is up, writes into it fail and those packets are lost.
// When it ends, closing its descriptors removes the devices, in whatever namespace they are.
// Without IFF_VNET_HDR a TUN device offers no segmentation offloads, so the kernel hands it no
// packet larger than its MTU.
//
// The shaped direction, per packet and in this order:
//   loss   dropped with probability --loss (std::mt19937_64 seeded with --seed: runs repeat);
//   queue  dropped when it would wait longer than --queue-ms before its serialisation begins,
//          that is when the bytes ahead of it exceed rate × queue time;
//   rate   its serialisation ends at max(arrival, link free) + size × 8 / rate, size counting
//          the IP packet (a TUN device has no link-layer header);
//   delay  --delay-ms after that it is written into the receiving side's device.
// Everything runs on CLOCK_MONOTONIC. Packets in flight wait in deques: the FIFO holds at most
// the queue time's worth of the rate, the delay lines what the rate and delay can have in flight.
//
// The truth file gets a line every 50 ms and one at the end, each written whole and at once:
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
// bytes after it. Lines always come with rising times.
//
// The queue log gets a line for every shaped packet that left the FIFO or was dropped. The lines
// are gathered in memory and written with one write() whenever a truth line is due, with or without
// --truth, and at the end, so a packet costs no system call:
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
  std::string direction = "up";
  double rateMbit = 0;
  double delayMs = 0;
  double queueMs = 200;
  double loss = 0;
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
                                                  {"--direction", &options.direction}};
  const std::map<std::string, Number> numbers{{"--rate-mbit", {&options.rateMbit, 0.001, 100'000}},
                                              {"--delay-ms", {&options.delayMs, 0, 60'000}},
                                              {"--queue-ms", {&options.queueMs, 0, 60'000}},
                                              {"--loss", {&options.loss, 0, 1}},
                                              {"--duration", {&options.durationSeconds, 0.001, 86'400}},
                                              {"--seed", {&options.seed, 0, 1e15}}};
  for (int i = 1; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) Fail("Wert fehlt für " + flag);
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
  if (options.direction != "up" && options.direction != "down") {
    Fail("--direction ist up oder down, nicht " + options.direction);
  }
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

class Link {
 public:
  // On the downlink the server's device is the sending side and the client's the receiving one.
  Link(const Options& options, int clientFd, int serverFd, int truthFd, int queueLogFd)
      : down_(options.direction == "down"),
        senderFd_(down_ ? serverFd : clientFd),
        receiverFd_(down_ ? clientFd : serverFd),
        truthFd_(truthFd),
        queueLogFd_(queueLogFd),
        nsPerByte_(8'000.0 / options.rateMbit),
        delayNs_(static_cast<std::int64_t>(options.delayMs * 1e6)),
        queueNs_(static_cast<std::int64_t>(options.queueMs * 1e6)),
        loss_(options.loss),
        random_(static_cast<std::uint64_t>(options.seed)),
        buffer_(kMaxPacket) {}

  // Until end or a stop signal; signals are let through only while it waits in ppoll.
  void Run(std::int64_t end, const sigset_t& waitMask) {
    nextTruth_ = NowNs() + kTruthInterval;
    while (stopRequested == 0) {
      const std::int64_t now = NowNs();
      if (now >= end) break;
      StartSerialisations(now);
      WriteDue(shapedLine_, receiverFd_, now);
      WriteDue(returnLine_, senderFd_, now);
      if (now >= nextTruth_) {
        WriteTruth(now, tracker_.Total());
        nextTruth_ = std::max(nextTruth_ + kTruthInterval, now + 1);
      }
      pollfd fds[2] = {{senderFd_, POLLIN, 0}, {receiverFd_, POLLIN, 0}};
      const std::int64_t wait = std::max<std::int64_t>(0, NextDeadline(end) - NowNs());
      const timespec timeout{static_cast<time_t>(wait / kNsPerSecond), static_cast<long>(wait % kNsPerSecond)};
      if (ppoll(fds, 2, &timeout, &waitMask) < 0) {
        if (errno == EINTR) continue;
        Fail(WithErrno("ppoll fehlgeschlagen"));
      }
      if (fds[0].revents != 0) ReadSender();
      if (fds[1].revents != 0) ReadReceiver();
    }
    WriteTruth(NowNs(), tracker_.Total());
  }

  std::string Summary() const {
    const std::string shapedWay = down_ ? " Pakete hinab" : " Pakete hinauf";
    const std::string returnWay = down_ ? " Pakete hinauf" : " Pakete hinab";
    return std::to_string(shaped_.packets) + shapedWay + ", davon " + std::to_string(shaped_.droppedQueue) +
           " an der vollen Warteschlange verworfen und " + std::to_string(shaped_.droppedLoss) +
           " zufällig verloren; " + std::to_string(returnPackets_) + returnWay + "; " +
           std::to_string(tracker_.Total()) + " Byte TCP in Reihenfolge";
  }

 private:
  // False when the device has nothing more to read now.
  bool ReadPacket(int fd, std::size_t& size) {
    const ssize_t n = read(fd, buffer_.data(), buffer_.size());
    if (n >= 0) {
      size = static_cast<std::size_t>(n);
      return true;
    }
    if (errno == EAGAIN || errno == EINTR) return false;
    Fail(WithErrno("Lesen vom TUN-Gerät fehlgeschlagen (Gerät entfernt?)"));
  }

  void ReadSender() {
    std::size_t size = 0;
    for (int i = 0; i < kReadsPerWakeup && ReadPacket(senderFd_, size); ++i) {
      ++shaped_.packets;
      const std::int64_t now = NowNs();
      if (loss_ > 0 && lossDraw_(random_) < loss_) {
        ++shaped_.droppedLoss;
        LogDrop(now);
      } else {
        Enqueue(size, now);
      }
    }
  }

  // The FIFO in front of the bottleneck: linkFree_ is when the last accepted packet's
  // serialisation ends, so the time to it is what a newcomer waits.
  void Enqueue(std::size_t size, std::int64_t now) {
    const std::int64_t start = std::max(now, linkFree_);
    if (start - now > queueNs_) {
      ++shaped_.droppedQueue;
      LogDrop(now);
      return;
    }
    Packet packet;
    packet.due = start;
    packet.waitedNs = start - now;
    packet.serialisationNs = static_cast<std::int64_t>(static_cast<double>(size) * nsPerByte_ + 0.5);
    packet.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
    linkFree_ = start + packet.serialisationNs;
    fifo_.push_back(std::move(packet));
  }

  // What the receiving side sends back: only the constant delay.
  void ReadReceiver() {
    std::size_t size = 0;
    for (int i = 0; i < kReadsPerWakeup && ReadPacket(receiverFd_, size); ++i) {
      ++returnPackets_;
      if (const auto segment = ParseTcp(buffer_.data(), size)) tracker_.FromReceiver(*segment);
      Packet packet;
      packet.due = NowNs() + delayNs_;
      packet.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
      returnLine_.push_back(std::move(packet));
    }
  }

  // Packets whose serialisation has begun leave the FIFO for the delay line.
  void StartSerialisations(std::int64_t now) {
    while (!fifo_.empty() && fifo_.front().due <= now) {
      Packet packet = std::move(fifo_.front());
      fifo_.pop_front();
      slotWaitsNs_.push_back(packet.waitedNs);
      LogStart(packet.due, packet.waitedNs);
      packet.due += packet.serialisationNs + delayNs_;
      shapedLine_.push_back(std::move(packet));
    }
  }

  // Writing fails while the device is not up yet; the packet is lost then, as on a dead link. What
  // reaches the receiving side's device counts for the truth.
  void WriteDue(std::deque<Packet>& line, int fd, std::int64_t now) {
    while (!line.empty() && line.front().due <= now) {
      const auto& bytes = line.front().bytes;
      const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
      if (written && fd == receiverFd_) {
        if (const auto segment = ParseTcp(bytes.data(), bytes.size())) {
          const std::uint64_t before = tracker_.Total();
          tracker_.Delivered(*segment);
          if (down_ && tracker_.Total() - before > segment->payload) {
            const std::int64_t at = NowNs();
            WriteTruth(at, before);
            WriteTruth(at + 1, tracker_.Total());
          }
        }
      }
      line.pop_front();
    }
  }

  std::int64_t NextDeadline(std::int64_t end) const {
    std::int64_t next = std::min(end, nextTruth_);
    for (const auto* line : {&fifo_, &shapedLine_, &returnLine_}) {
      if (!line->empty()) next = std::min(next, line->front().due);
    }
    return next;
  }

  // The queue log's lines, for a packet that began its serialisation and for one dropped.
  void LogStart(std::int64_t ns, std::int64_t waitedNs) {
    if (queueLogFd_ < 0) return;
    char line[48];
    const int length = std::snprintf(line, sizeof line, "%" PRId64 " %" PRId64 "\n", ns, waitedNs / 1000);
    queueLog_.append(line, static_cast<std::size_t>(length));
  }

  void LogDrop(std::int64_t ns) {
    if (queueLogFd_ < 0) return;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%" PRId64 " D\n", ns);
    queueLog_.append(line, static_cast<std::size_t>(length));
  }

  void WriteQueueLog() {
    if (queueLog_.empty()) return;
    if (write(queueLogFd_, queueLog_.data(), queueLog_.size()) != static_cast<ssize_t>(queueLog_.size())) {
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
    if (truthFd_ < 0) return;
    char line[256];
    const int length = std::snprintf(
        line, sizeof line, "%" PRId64 " %" PRIu64 " %" PRId64 " %" PRId64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", now,
        inOrder, p95 / 1000, max / 1000, shaped_.packets - shapedAtLastLine_.packets,
        shaped_.droppedQueue - shapedAtLastLine_.droppedQueue, shaped_.droppedLoss - shapedAtLastLine_.droppedLoss);
    shapedAtLastLine_ = shaped_;
    // One write per line, so a reader following the file never sees half a line.
    if (write(truthFd_, line, static_cast<std::size_t>(length)) != length) {
      Fail(WithErrno("Wahrheitsdatei lässt sich nicht schreiben"));
    }
  }

  bool down_;
  int senderFd_;    // the device whose packets are shaped
  int receiverFd_;  // the device they are written into, whose packets come back with the delay only
  int truthFd_;
  int queueLogFd_;
  double nsPerByte_;
  std::int64_t delayNs_;
  std::int64_t queueNs_;
  double loss_;
  std::mt19937_64 random_;
  std::uniform_real_distribution<double> lossDraw_{0.0, 1.0};
  std::vector<std::uint8_t> buffer_;
  std::deque<Packet> fifo_;        // shaped, waiting for the bottleneck
  std::deque<Packet> shapedLine_;  // shaped, serialising and then on its way to the receiving side
  std::deque<Packet> returnLine_;  // on the way back to the sending side
  std::int64_t linkFree_ = 0;
  std::int64_t nextTruth_ = 0;
  std::int64_t lastTruthNs_ = 0;
  std::vector<std::int64_t> slotWaitsNs_;  // of the packets that left the FIFO since the last line
  std::string queueLog_;                   // its lines since then, for --queue-log
  Counts shaped_;
  Counts shapedAtLastLine_;
  std::uint64_t returnPackets_ = 0;
  InOrderTracker tracker_;
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
  int truthFd = -1;
  if (!options.truthPath.empty()) {
    truthFd = open(options.truthPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (truthFd < 0) Fail(WithErrno("Wahrheitsdatei " + options.truthPath + " lässt sich nicht anlegen"));
  }
  int queueLogFd = -1;
  if (!options.queueLogPath.empty()) {
    queueLogFd = open(options.queueLogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (queueLogFd < 0) {
      Fail(WithErrno("Warteschlangenprotokoll " + options.queueLogPath + " lässt sich nicht anlegen"));
    }
  }
  std::printf("bereit\n");
  std::fflush(stdout);

  const std::int64_t start = NowNs();
  Link link(options, clientFd, serverFd, truthFd, queueLogFd);
  link.Run(start + static_cast<std::int64_t>(options.durationSeconds * 1e9), waitMask);

  const double elapsed = static_cast<double>(NowNs() - start) / 1e9;
  const double cpu = CpuSeconds();
  std::fprintf(stderr, "korvaden-lab-link: nach %.1f s: %s; CPU-Zeit %.2f s (%.1f %%)\n", elapsed,
               link.Summary().c_str(), cpu, elapsed > 0 ? cpu / elapsed * 100 : 0.0);
  close(clientFd);
  close(serverFd);
  if (truthFd >= 0) close(truthFd);
  if (queueLogFd >= 0) close(queueLogFd);
  return 0;
}
