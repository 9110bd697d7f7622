// SPDX-License-Identifier: MIT
#include "port_rates.h"
#include "serial_port.h"

const uint32_t* PortBaudRates(size_t* count)
{
    *count = kPortRateCount;
    return kPortRates;
}

bool PortBaudSupported(uint32_t baud)
{
    return PortRateIndex(baud) >= 0;
}
