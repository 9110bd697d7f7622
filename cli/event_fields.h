// SPDX-License-Identifier: MIT
// Reads back one event line of json_events.h: a flat object of strings,
// numbers and booleans. The production line's parent reads its children so.
#pragma once

#include <map>
#include <string>

// Strings come back unescaped (\u00XX as that byte); numbers and booleans as
// their text. False when the line is not such an object.
bool ParseEventFields(const std::string& line, std::map<std::string, std::string>* fields);
