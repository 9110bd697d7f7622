// SPDX-License-Identifier: MIT
// CLoaderApp: the application object. It only shows the main dialog
// modally; when the dialog closes, the program ends.
#pragma once

#include <QString>

class QWidget;

class CLoaderApp {
public:
    CLoaderApp();
    virtual ~CLoaderApp();
    // Shows the main dialog modally; always false (no message loop of the
    // application's own follows).
    virtual bool InitInstance();

    QWidget* m_pMainWnd = nullptr;
    // From the command line: a serial device to add to the port list and
    // select; a PNG to render the main window into, after which the program
    // ends.
    QString m_strPortPath;
    QString m_strScreenshot;
    QString m_strAboutScreenshot;  // the same for the About box
};

extern CLoaderApp theApp;
