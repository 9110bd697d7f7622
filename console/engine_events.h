// SPDX-License-Identifier: MIT
// The dialog's private notifications, posted by the engine's sinks from the
// worker thread and handled on the user-interface thread in posting order.
// Each log notification carries its own line, so no line is lost or shown
// twice when the worker logs faster than the dialog reads.
#pragma once

#include <QEvent>
#include <QString>

#include <cstdint>

constexpr QEvent::Type WM_ENGINE_LOG = QEvent::Type(QEvent::User + 100);
constexpr QEvent::Type WM_ENGINE_DONE = QEvent::Type(QEvent::User + 101);
constexpr QEvent::Type WM_ENGINE_PROGRESS = QEvent::Type(QEvent::User + 102);

class EngineLogEvent : public QEvent {
public:
    EngineLogEvent(QString text, uint8_t level) : QEvent(WM_ENGINE_LOG), m_text(std::move(text)), m_level(level) {}
    QString m_text;
    uint8_t m_level;
    // The line that ended the download because the port is gone, with the
    // system's words for it. Taken on the worker when the line was logged,
    // so a later Start (which clears the engine's verdict) cannot hide it.
    bool m_bPortLost = false;
    QString m_strLostReason;
};

class EngineDoneEvent : public QEvent {
public:
    explicit EngineDoneEvent(bool portLost = false) : QEvent(WM_ENGINE_DONE), m_bPortLost(portLost) {}
    bool m_bPortLost;  // the download ended because the port is gone
};

class EngineProgressEvent : public QEvent {
public:
    explicit EngineProgressEvent(int position) : QEvent(WM_ENGINE_PROGRESS), m_position(position) {}
    int m_position;
};
