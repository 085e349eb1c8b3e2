// SPDX-License-Identifier: MIT
#pragma once

#include "MainFormCommands.h"
#include "MainFormView.h"

#include <memory>
#include <string>

// The window's behaviour as the commands of the Win32 window, journalling into `journalFolder`.
std::unique_ptr<TMainFormCommands> MakeBehaviourCommands(TMainFormView& view, std::string journalFolder);
