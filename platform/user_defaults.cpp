#include "platform/user_defaults.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include "platform/log.h"

namespace {

QString qtPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

QString qtKey(const std::string& key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

std::optional<std::string> UserDefaults::checkFile(const std::filesystem::path& file) {
    const auto unreadable = [](int error) {
        return std::string("cannot be read (") + std::strerror(error) + ")";
    };
    // stat first: it tells a FIFO without opening it.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(unreadable(errno));
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    // Without blocking, in case the file has become something else since.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return unreadable(errno);
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular)
        return "is not a regular file";
    return std::nullopt;
}

UserDefaults::UserDefaults(const std::filesystem::path& file, const FileCheck& check)
    : m_file(file) {
    if (const std::optional<std::string> problem = check(file)) {
        logLine("⚠️ Failed to read user defaults:",
                fileURL(file, false) + " " + *problem + "; changes are not saved in this run");
        return;
    }
    m_settings = std::make_unique<QSettings>(qtPath(file), QSettings::IniFormat);
}

UserDefaults::~UserDefaults() = default;

std::filesystem::path UserDefaults::standardLocation() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(QFile::encodeName(base).toStdString()) / "Zorvant" / "Zorvant.ini";
}

std::optional<Blob> UserDefaults::dataForKey(const std::string& key) const {
    if (!m_settings) {
        const auto it = m_memory.find(key);
        return it == m_memory.end() ? std::nullopt : std::optional(it->second);
    }
    const QVariant value = m_settings->value(qtKey(key));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    return Blob(bytes.begin(), bytes.end());
}

bool UserDefaults::contains(const std::string& key) const {
    if (!m_settings)
        return m_memory.contains(key);
    return m_settings->contains(qtKey(key));
}

void UserDefaults::setObject(const Blob& data, const std::string& key) {
    write(key, data);
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    write(key, std::nullopt);
}

void UserDefaults::write(const std::string& key, const Change& change) {
    if (!m_settings) {
        if (change)
            m_memory[key] = *change;
        else
            m_memory.erase(key);
        return;
    }
    m_unwritten[key] = change;
    if (m_settings->status() != QSettings::NoError) {
        // QSettings keeps reporting its first error for good, so carry on with a fresh
        // instance, handed again every change the file is still missing. It is made only now:
        // made right after the failure, it would fail its own first sync and keep that error
        // even once the file can be written again.
        m_settings = std::make_unique<QSettings>(qtPath(m_file), QSettings::IniFormat);
    }
    for (const auto& [unwrittenKey, unwritten] : m_unwritten) {
        if (unwritten)
            m_settings->setValue(qtKey(unwrittenKey),
                                 QByteArray(reinterpret_cast<const char*>(unwritten->data()),
                                            static_cast<qsizetype>(unwritten->size())));
        else
            m_settings->remove(qtKey(unwrittenKey));
    }
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError)
        m_unwritten.clear();
    else
        logLine("⚠️ Failed to write user defaults:", fileURL(m_file, false));
}
