// SPDX-License-Identifier: MIT
// Reads back one event line as marbrix-cli --json writes it (cli/json_events.h): a flat object of strings,
// numbers and booleans. The station controller reads its children so.
#pragma once

#include <map>
#include <string>

// Strings come back as the bytes they were made from: UTF-8 as it stands,
// \u00XX (a control character, or a byte that is no part of valid UTF-8) as
// that one byte. Numbers and booleans come as JSON text. False when the
// line is not such an object.
bool ParseEventFields(const std::string& line, std::map<std::string, std::string>* fields);
// The line's "event" member; empty when it has none or is no event line.
std::string EventKind(const std::string& line);
