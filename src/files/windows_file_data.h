// What the Windows file system answers, read into the program's terms: a
// file's identity from its FILE_ID_INFO, a symbolic link's target from its
// reparse data. Pure byte work, so that it is tested on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/buffer.h"
#include "base/error.h"
#include "files/file.h"

namespace hushmark {

// A file's identity from the answer to FileIdInfo (the 64-bit volume serial
// number and the 16 bytes of the 128-bit file ID, low byte first), or
// `fallback` (the volume's 32-bit serial and the 64-bit index of the older
// call) when there was no answer or the ID is all zero, which is how a file
// system without 128-bit IDs answers.
FileIdentity identityFromFileId(std::optional<std::uint64_t> volume,
                                std::span<const unsigned char, 16> id, FileIdentity fallback);

// The target of a symbolic link from the data of its reparse point, as
// WTF-8 in the form that the file calls take: the substitute name (the
// print name is for display only, and may be empty or differ), with its
// "\??\" prefix turned into a drive path, a "\\server\share" path or a
// "\\?\" path; a relative target as it stands, for the caller to resolve
// against the link's directory. nullopt for anything but a well-formed
// symbolic link.
Result<std::optional<ByteBuffer>> symbolicLinkTarget(std::span<const unsigned char> data);

}  // namespace hushmark
