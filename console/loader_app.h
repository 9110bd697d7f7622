// SPDX-License-Identifier: MIT
// CLoaderApp: the application object. It only shows the main dialog
// modally; when the dialog closes, the program ends. Its InitInstance is
// the window system's (qt/loader_app_qt.cpp, win32/loader_app_win32.cpp):
// both add the port given on the command line and may render pictures of
// the dialog for the documentation.
#pragma once

#include "cstring.h"

class CDialog;

class CLoaderApp {
public:
    CLoaderApp();
    virtual ~CLoaderApp();
    // Shows the main dialog modally; always false (no message loop of the
    // application's own follows).
    virtual bool InitInstance();

    CDialog* m_pMainWnd = nullptr;
    // From the command line: a serial device to add to the port list and
    // select.
    CString m_strPortPath;
    // For the documentation's pictures: render the main window (or the
    // About box) into this file, after which the program ends. With
    // m_strScreenshotDownload: choose that file, press Start, and render
    // once the progress bar passes m_nScreenshotPercent.
    CString m_strScreenshot;
    CString m_strAboutScreenshot;
    CString m_strScreenshotDownload;
    int m_nScreenshotPercent = 40;
    int m_cxScreenshot = 0, m_cyScreenshot = 0;  // enlarged to this first, if set
};

extern CLoaderApp theApp;
