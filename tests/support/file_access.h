#pragma once
// Permission bits do not stop root. While one of these lives, the calling thread has given up the
// two capabilities that let it read and write past them, so a file of mode 000 or a folder of mode
// 0555 refuses it as it refuses a user. For other users it changes nothing.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

class TWithoutFileOverride {
 public:
  TWithoutFileOverride() {
    if (::syscall(SYS_capget, &FHeader, FSaved) != 0) return;
    __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
    reduced[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
    FChanged = ::syscall(SYS_capset, &FHeader, reduced) == 0;
  }
  ~TWithoutFileOverride() {
    if (FChanged) ::syscall(SYS_capset, &FHeader, FSaved);
  }
  TWithoutFileOverride(const TWithoutFileOverride&) = delete;
  TWithoutFileOverride& operator=(const TWithoutFileOverride&) = delete;

 private:
  __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct FSaved[2]{};
  bool FChanged = false;
};

}  // namespace testsupport
