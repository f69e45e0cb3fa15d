#include "app/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zqt {

void OpenMissingStandardDescriptors() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open() returns the lowest free number, which is this one, since
        // the lower ones are open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::close(opened);  // some other thread's doing; nothing to repair
        }
    }
}

}  // namespace zqt
