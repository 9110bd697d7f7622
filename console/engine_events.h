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
};

class EngineDoneEvent : public QEvent {
public:
    EngineDoneEvent() : QEvent(WM_ENGINE_DONE) {}
};

class EngineProgressEvent : public QEvent {
public:
    explicit EngineProgressEvent(int position) : QEvent(WM_ENGINE_PROGRESS), m_position(position) {}
    int m_position;
};
