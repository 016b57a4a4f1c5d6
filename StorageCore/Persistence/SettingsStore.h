#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

#include <chrono>
#include <memory>

namespace tw {

/// The application's preferences (a QSettings file) read from memory and written by a worker
/// of the task facility, so no thread that calls it ever waits for the disk.
///
/// - Reads answer at once from a copy in memory, taken when the store is made and updated by
///   every change; they see a change the moment it is made, written or not.
/// - Changes are applied to the file in the order they were made, by one worker at a time
///   through a QSettings object of its own, which then syncs the file (a QSaveFile commit).
///   No QSettings object of the calling thread is ever changed, so Qt never saves the file
///   from that thread's event loop.
/// - Keys, value encoding and file are QSettings's own: what an earlier version kept is read
///   as it was.
/// - Any thread may call it. flush() and BackgroundWriter::flushAll() (at quit) wait for what
///   is pending; the destructor flushes too.
class SettingsStore final {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    /// The application's settings file (QSettings's default for the organization and
    /// application names set at the time).
    SettingsStore();
    /// A file of its own (tests, benchmarks).
    SettingsStore(const QString& fileName, QSettings::Format format);
    /// Waits for the pending writes (at most 10 s).
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    bool contains(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

    QString fileName() const;

    /// Waits until nothing is pending or being written, or the deadline passes; true when
    /// nothing is.
    bool flush(Deadline deadline = Deadline::max());

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tw
