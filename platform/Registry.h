#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

class QSettings;

// Per-user configuration folder: $XDG_CONFIG_HOME, or ~/.config.
QString UserConfigDir();

// A stand-in for the per-user registry. A key path below the user's root,
// such as Software\Harnwick\Wharfkeep, is kept as the INI file
// <config>/Harnwick/Wharfkeep.ini: the first level (Software) is the
// configuration folder itself, every further level a folder, the last level
// the file. Values are text (REG_SZ) or 32-bit numbers (REG_DWORD); both are
// written as plain INI values. The file is read once per opened key, and what
// is set is written in one go when the key is closed (or destroyed), not
// once per value.
class CRegKey {
public:
    static constexpr int kMaxLevels = 8;

    CRegKey();
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens one more level below the key path opened so far; false when that
    // level does not exist.
    bool Open(const QString& strName);
    // Opens one more level, creating it if needed; false when it cannot be made.
    bool Create(const QString& strName);
    // Writes what was set; false when the file could not be written.
    bool Close();
    bool IsOpen() const { return !m_strPath.isEmpty() || m_bRoot; }

    // Reads a text into a buffer of nBufferSize bytes: fails when the value is
    // missing or does not fit with its terminator.
    std::optional<QString> QueryString(const QString& strName, int nBufferSize) const;
    // Reads a 32-bit number: fails when missing or not a number.
    std::optional<uint32_t> QueryDword(const QString& strName) const;
    bool SetString(const QString& strName, const QString& strValue);
    bool SetDword(const QString& strName, uint32_t nValue);

    // The file that holds the values of the opened key.
    QString FilePath() const;

private:
    QSettings* Store() const;
    bool Flush();

    QString m_strPath; // folder or file path of the deepest opened level
    int m_nLevels = 0;
    bool m_bRoot = false;
    mutable std::unique_ptr<QSettings> m_pStore; // the opened key's file, once used
};

// An INI profile file with sections and string values. A missing file,
// section or key reads as the default. Values written are kept and written
// to the file in one go when the profile object goes (or at Flush).
class CProfile {
public:
    explicit CProfile(QString strFilePath);
    ~CProfile();
    CProfile(const CProfile&) = delete;
    CProfile& operator=(const CProfile&) = delete;

    QString GetProfileString(const QString& strSection, const QString& strEntry,
                             const QString& strDefault = QString()) const;
    bool WriteProfileString(const QString& strSection, const QString& strEntry,
                            const QString& strValue);
    // Writes what was written so far; false when the file could not be written.
    bool Flush();
    const QString& FilePath() const { return m_strFilePath; }

private:
    QString m_strFilePath;
    std::unique_ptr<QSettings> m_pStore; // once something is written
};
