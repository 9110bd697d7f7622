// SPDX-License-Identifier: MIT
#include "console_globals.h"

#include "resource.h"

PortHandle g_hPort = nullptr;
uint8_t g_bConnected = 0;
uint8_t g_bDownloading = 0;
FILE* g_pDownloadFile = nullptr;
uint8_t g_bImageMode = 0;
CDownloadEngine* g_pEngine = nullptr;
DialogHandle g_hMainWnd = nullptr;
std::mutex g_mainWndLock;

const char* LoadResourceString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX:
        return "关于 Marbrix(&A)...";
    default:
        return "";
    }
}
