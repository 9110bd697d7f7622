// SPDX-License-Identifier: MIT
#include "port_list.h"

#include "serial_port.h"

#include <algorithm>
#include <libserialport.h>

namespace {

std::string Text(const char* s)
{
    return s ? std::string(s) : std::string();
}

std::string Describe(sp_port* port)
{
    std::string desc = Text(sp_get_port_description(port));
    if (sp_get_port_transport(port) != SP_TRANSPORT_USB)
        return desc;
    std::string usb = Text(sp_get_port_usb_manufacturer(port));
    std::string product = Text(sp_get_port_usb_product(port));
    if (!product.empty())
        usb += (usb.empty() ? "" : " ") + product;
    std::string serial = Text(sp_get_port_usb_serial(port));
    if (!serial.empty())
        usb += (usb.empty() ? "" : " ") + std::string("(serial ") + serial + ")";
    int vid = 0, pid = 0;
    if (sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) {
        char ids[24];
        snprintf(ids, sizeof ids, "[%04x:%04x]", vid, pid);
        usb += (usb.empty() ? "" : " ") + std::string(ids);
    }
    return usb.empty() ? desc : usb;
}

std::string UsbIdentity(sp_port* port)
{
    int vid = 0, pid = 0;
    if (sp_get_port_transport(port) != SP_TRANSPORT_USB || sp_get_port_usb_vid_pid(port, &vid, &pid) != SP_OK)
        return std::string();
    char ids[24];
    snprintf(ids, sizeof ids, "usb:%04x:%04x", vid, pid);
    std::string serial = Text(sp_get_port_usb_serial(port));
    return serial.empty() ? std::string(ids) : std::string(ids) + ":" + serial;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts()
{
    std::vector<PortInfo> result;
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK)
        return result;
    for (sp_port** p = ports; *p; ++p) {
        PortInfo info;
        info.path = Text(sp_get_port_name(*p));
        if (info.path.empty())
            continue;
        info.shortName = PortShortName(info.path);
        info.description = Describe(*p);
        info.usbIdentity = UsbIdentity(*p);
        result.push_back(info);
    }
    sp_free_port_list(ports);
    std::sort(result.begin(), result.end(), [](const PortInfo& a, const PortInfo& b) { return a.path < b.path; });
    return result;
}
