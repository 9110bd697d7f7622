// SPDX-License-Identifier: MIT
// CLoaderApp: the application object. It only shows the main dialog
// modally; when the dialog closes, the program ends.
#pragma once

#include <QSize>
#include <QString>

class CLoaderDlg;
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
    // For the README's picture of the tool at work: choose this file, press
    // Start, and render the window once the progress bar passes
    // m_nScreenshotPercent.
    QString m_strScreenshotDownload;
    int m_nScreenshotPercent = 40;
    QSize m_screenshotSize;  // the window enlarged to this first, if valid

private:
    void ShootDownload(CLoaderDlg& dlg);
};

extern CLoaderApp theApp;
