// What to tell someone who hands velvane what it does not read or write: a
// container instead of YUV4MPEG2, or a pipe that stayed empty. The one place
// that knows the containers; when some of them become real outputs, their
// rows go.
#ifndef VELVANE_CLI_HINTS_H
#define VELVANE_CLI_HINTS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace velvane {

// Bytes of a stream's start that inputContainerHint looks at.
constexpr size_t kContainerProbeBytes = 12;

// For an OUTPUT whose name asks for a container (out.mkv): a warning that
// says how to get one. Empty for any other name.
std::string outputContainerHint(const std::string &path);
// For input that is not YUV4MPEG2, from its first bytes: what it is and how
// to feed it through ffmpeg ("it is a Matroska file; ..."). Empty when the
// bytes are nothing known.
std::string inputContainerHint(const uint8_t *head, size_t size, const std::string &name);
// For input from a pipe or a device that ended before its first byte.
std::string emptyStreamHint();

} // namespace velvane

#endif
