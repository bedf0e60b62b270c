// The containers by their names and first bytes, and what to tell someone
// who hands velvane what it does not read or write: a container that the
// FFmpeg libraries it runs with cannot write, or a pipe that stayed empty.
#ifndef VELVANE_CLI_HINTS_H
#define VELVANE_CLI_HINTS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace velvane {

// Bytes of a stream's start that inputContainerHint looks at.
constexpr size_t kContainerProbeBytes = 12;

// Whether an OUTPUT's name asks for a container (out.mkv, OUT.AVI).
bool namesContainer(const std::string &path);
// For an OUTPUT whose name asks for a container that cannot be written here:
// a warning that says how to get one. Empty for any other name.
std::string outputContainerHint(const std::string &path);
// What a stream's first bytes say it is ("a Matroska file"); empty when
// they are nothing known.
std::string containerKind(const uint8_t *head, size_t size);
// For input that is not YUV4MPEG2 handed to the YUV4MPEG2 reader, from its
// first bytes: what it is and how to give it to velvane. Empty when the bytes
// are nothing known.
std::string inputContainerHint(const uint8_t *head, size_t size, const std::string &name);
// For input from a pipe or a device that ended before its first byte.
std::string emptyStreamHint();

} // namespace velvane

#endif
