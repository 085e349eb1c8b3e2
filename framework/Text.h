// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <string>

// How an 8-bit text of the program is shown in a widget. Most texts are plain ASCII; the ones
// that are not come from the system (file names, error explanations), which on Linux are
// UTF-8. A text that is not valid UTF-8 is taken byte for byte as Latin-1, so no byte is ever
// lost or replaced.
QString DisplayText(const std::string& text);
