// SPDX-License-Identifier: MIT
// The text of an event line: nlohmann's document, written out by the rules
// of this wire format, which the library's own dump does not follow: every
// byte of a string comes back (see JsonQuote), and a number with a fraction
// has three decimals.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

// An event: its members go out in the order they were set.
using EventObject = nlohmann::ordered_json;

// One line's text, without the line break.
std::string EventText(const EventObject& event);

// A JSON string of bytes. Valid UTF-8 passes as it is; a byte that is not
// part of any (and a control character) becomes \u00XX, so that every byte
// comes back.
std::string JsonQuote(const std::string& bytes);

// How many bytes at the end of s begin a UTF-8 sequence still to be
// completed (0 to 3): text cut there would split a character.
size_t Utf8OpenTail(const std::string& s);
