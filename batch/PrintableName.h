// SPDX-License-Identifier: GPL-3.0-or-later
// File names as varnel-batch's messages show them.
#pragma once

#include <string>

// The name with its control characters written as C escapes, as `ls -b` writes them: "\n",
// "\t", "\r" and the other single-letter ones, "\033" (three octal digits) for the rest, and
// "\177" for DEL. A backslash in the name stays one backslash; every other byte, those of
// UTF-8 text included, is kept. A name can then never move the cursor, clear the screen or
// split a message line in two.
std::string PrintableName(const std::string& strName);

// PrintableName in double quotes: the form every message uses for a file.
std::string QuotedName(const std::string& strName);
