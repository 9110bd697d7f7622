// SPDX-License-Identifier: MIT
// The two helpers around image download files: inspect one, pack one.
#pragma once

#include "options.h"

// Prints what the engine would make of FILE. Exit code: 0 valid, 2 invalid, 4 unreadable.
int InspectImage(const std::string& path);
// Writes an image file from a payload (atomically: temp file + rename).
// Exit code: 0 written, 2 payload empty or too large, 4 payload unreadable / output not writable.
int PackImage(const PackOptions& options);
