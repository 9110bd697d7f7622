// SPDX-License-Identifier: MIT
#include "env_var.h"

#include <cstdlib>

void SetEnvVar(const char* name, const char* value)
{
    _putenv_s(name, value);
}

// An empty value removes the variable from the C runtime's environment.
void UnsetEnvVar(const char* name)
{
    _putenv_s(name, "");
}
