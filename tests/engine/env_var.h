// SPDX-License-Identifier: MIT
// Setting and removing an environment variable in the C runtime the tests
// run in (setenv on POSIX, _putenv_s on Windows), for tests that change TZ.
#pragma once

void SetEnvVar(const char* name, const char* value);
void UnsetEnvVar(const char* name);
