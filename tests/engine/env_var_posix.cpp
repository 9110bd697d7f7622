// SPDX-License-Identifier: MIT
#include "env_var.h"

#include <cstdlib>

void SetEnvVar(const char* name, const char* value)
{
    setenv(name, value, 1);
}

void UnsetEnvVar(const char* name)
{
    unsetenv(name);
}
