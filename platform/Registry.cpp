#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

QString UserConfigDir() {
    QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty() || !QDir::isAbsolutePath(dir))
        dir = QDir::homePath() + "/.config";
    return dir;
}

namespace {
QString readText(const QVariant& value) {
    // INI values with unquoted commas come back as lists; keep them as typed.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(',');
    return value.toString();
}
} // namespace

CRegKey::CRegKey() = default;

CRegKey::~CRegKey() {
    Close();
}

QSettings* CRegKey::Store() const {
    if (!m_pStore)
        m_pStore = std::make_unique<QSettings>(FilePath(), QSettings::IniFormat);
    return m_pStore.get();
}

namespace {
// Writes what a store holds to its file and lets the store go; false when
// the file could not be written.
bool WriteOut(std::unique_ptr<QSettings>& pStore) {
    if (!pStore)
        return true;
    pStore->sync();
    const bool bWritten = pStore->status() == QSettings::NoError;
    pStore.reset();
    return bWritten;
}
} // namespace

bool CRegKey::Flush() {
    return WriteOut(m_pStore);
}

bool CRegKey::Open(const QString& strName) {
    Flush(); // the store belongs to the level opened so far
    if (m_nLevels == 0) {
        m_bRoot = true;
        m_strPath = UserConfigDir();
        m_nLevels = 1;
        return true;
    }
    if (m_nLevels >= kMaxLevels || strName.isEmpty() || strName.contains('/'))
        return false;
    QString next = m_strPath + "/" + strName;
    if (QFileInfo(next + ".ini").isFile()) {
        m_strPath = next;
        ++m_nLevels;
        return true;
    }
    if (QFileInfo(next).isDir()) {
        m_strPath = next;
        ++m_nLevels;
        return true;
    }
    return false;
}

bool CRegKey::Create(const QString& strName) {
    Flush();
    if (m_nLevels == 0)
        return Open(strName);
    if (m_nLevels >= kMaxLevels || strName.isEmpty() || strName.contains('/'))
        return false;
    // The parent level becomes a folder as soon as something is created in it.
    if (!QDir().mkpath(m_strPath))
        return false;
    m_strPath += "/" + strName;
    ++m_nLevels;
    return true;
}

bool CRegKey::Close() {
    const bool bWritten = Flush();
    m_strPath.clear();
    m_nLevels = 0;
    m_bRoot = false;
    return bWritten;
}

QString CRegKey::FilePath() const {
    return m_strPath + ".ini";
}

std::optional<QString> CRegKey::QueryString(const QString& strName, int nBufferSize) const {
    if (m_nLevels < 2)
        return std::nullopt;
    QVariant value = Store()->value(strName);
    if (!value.isValid())
        return std::nullopt;
    QString text = readText(value);
    if (text.toLocal8Bit().size() + 1 > nBufferSize)
        return std::nullopt;
    return text;
}

std::optional<uint32_t> CRegKey::QueryDword(const QString& strName) const {
    if (m_nLevels < 2)
        return std::nullopt;
    QVariant value = Store()->value(strName);
    if (!value.isValid())
        return std::nullopt;
    bool bOk = false;
    qlonglong n = readText(value).trimmed().toLongLong(&bOk, 0);
    if (!bOk || n < INT32_MIN || n > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(n);
}

bool CRegKey::SetString(const QString& strName, const QString& strValue) {
    if (m_nLevels < 2)
        return false;
    Store()->setValue(strName, strValue);
    return m_pStore->status() == QSettings::NoError;
}

bool CRegKey::SetDword(const QString& strName, uint32_t nValue) {
    if (m_nLevels < 2)
        return false;
    Store()->setValue(strName, static_cast<qulonglong>(nValue));
    return m_pStore->status() == QSettings::NoError;
}

CProfile::CProfile(QString strFilePath) : m_strFilePath(std::move(strFilePath)) {}

CProfile::~CProfile() {
    Flush();
}

namespace {
// The text after "entry=" in the section, as the file holds it (ends
// trimmed): a value with unquoted commas is one text in a profile, where
// QSettings makes a list of it and drops the spaces after the commas.
std::optional<QString> rawProfileText(const QString& strPath, const QString& strSection,
                                      const QString& strEntry) {
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    bool bInSection = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            bInSection =
                line.mid(1, line.size() - 2).trimmed().compare(strSection, Qt::CaseInsensitive) ==
                0;
            continue;
        }
        const qsizetype nEquals = line.indexOf('=');
        if (bInSection && nEquals > 0 &&
            line.left(nEquals).trimmed().compare(strEntry, Qt::CaseInsensitive) == 0)
            return line.mid(nEquals + 1).trimmed();
    }
    return std::nullopt;
}
} // namespace

QString CProfile::GetProfileString(const QString& strSection, const QString& strEntry,
                                   const QString& strDefault) const {
    // What was written and not yet flushed counts; otherwise the file.
    std::optional<QSettings> fileOnly;
    const QSettings* pStore = m_pStore.get();
    if (!pStore) {
        if (!QFileInfo(m_strFilePath).isFile())
            return strDefault;
        pStore = &fileOnly.emplace(m_strFilePath, QSettings::IniFormat);
    }
    QVariant value = pStore->value(strSection + "/" + strEntry);
    if (!value.isValid())
        return strDefault;
    if (value.typeId() == QMetaType::QStringList) {
        if (auto raw = rawProfileText(m_strFilePath, strSection, strEntry))
            return *raw;
    }
    return readText(value);
}

bool CProfile::WriteProfileString(const QString& strSection, const QString& strEntry,
                                  const QString& strValue) {
    if (!m_pStore)
        m_pStore = std::make_unique<QSettings>(m_strFilePath, QSettings::IniFormat);
    m_pStore->setValue(strSection + "/" + strEntry, strValue);
    return m_pStore->status() == QSettings::NoError;
}

bool CProfile::Flush() {
    if (m_pStore)
        QDir().mkpath(QFileInfo(m_strFilePath).absolutePath());
    return WriteOut(m_pStore);
}
