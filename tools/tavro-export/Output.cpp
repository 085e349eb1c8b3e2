// SPDX-License-Identifier: MIT
#include "Output.h"

#include <unistd.h>

#include <cerrno>

namespace exporter {

bool BufferedOutput::Flush() {
    std::size_t done = 0;
    while (error == 0 && done < buffer.size()) {
        const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            done += static_cast<std::size_t>(n);
    }
    buffer.clear();
    return error == 0;
}

} // namespace exporter
