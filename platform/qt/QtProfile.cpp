#include "platform/qt/QtProfile.h"

namespace {

QString keyOf(const std::string& section, const std::string& key)
{
    return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}

} // namespace

QtProfile::QtProfile()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, "Korvath Electronics", "Tessol")
{
}

int QtProfile::readInt(const std::string& section, const std::string& key, int fallback) const
{
    bool ok = false;
    const int value = settings_.value(keyOf(section, key)).toInt(&ok);
    return ok ? value : fallback;
}

void QtProfile::writeInt(const std::string& section, const std::string& key, int value)
{
    settings_.setValue(keyOf(section, key), value);
    settings_.sync();
}

std::string QtProfile::readText(const std::string& section, const std::string& key,
                                const std::string& fallback) const
{
    const QVariant value = settings_.value(keyOf(section, key));
    return value.isValid() ? value.toString().toStdString() : fallback;
}

void QtProfile::writeText(const std::string& section, const std::string& key, const std::string& value)
{
    settings_.setValue(keyOf(section, key), QString::fromStdString(value));
    settings_.sync();
}
