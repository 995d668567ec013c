// The list command: every hidden pattern, then every frozen path, as
// tab-separated lines on standard output.
#pragma once

#include <string_view>

#include "runtime/buffer.h"
#include "runtime/error.h"

namespace hushmark {

Status listCommand();

// Appends "hide\t<pattern>\n" for every line of the exclude file's content
// that is neither blank nor a comment once spaces and tabs are set aside;
// the pattern keeps the spaces and tabs it has in the file.
Status appendHiddenPatterns(ByteBuffer& out, std::string_view excludeContent);

// Appends "freeze\t<path>\n" for every NUL-ended entry of
// "git ls-files -v -z" output whose tag is "S " or "s " (skip-worktree, the
// latter also assume-unchanged), in Git's order. A path that holds a line
// feed or begins with a double quote is written in C-style quotes, so that
// every entry stays one line; every other path is written as it is.
Status appendFrozenPaths(ByteBuffer& out, std::string_view lsFilesOutput);

}  // namespace hushmark
