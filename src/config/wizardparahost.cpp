// Host information (/proc/cpuinfo) and the application's "config.json".

#include "wizardpara.h"

#include "hostpaths.h"
#include "miscfunc.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char kConfigFile[] = "config.json";
const char kLcdListKey[] = "not_Support_LCD_CPU";
const char kCameraKey[] = "camera_Global_Parameters";
const char kFpsKey[] = "fps";
constexpr int kNewIntelGeneration = 99;
constexpr int kLowPowerGeneration = 11;
constexpr int kModelSuffixDigits = 3;

QString afterColon(const QString& line)
{
    const int colon = line.indexOf(':');
    return colon < 0 ? QString() : line.mid(colon + 1).trimmed();
}

} // namespace

void WizardPara::loadCpuInfo()
{
    QFile file(HostPaths::path("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("Failed to open /proc/cpuinfo");
        return;
    }
    QByteArray bytes = file.readAll();
    file.close();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);

    static const QRegularExpression ruleN("Intel\\(R\\)\\s+(\\w+\\d{1,5})");
    static const QRegularExpression ruleCore("Intel\\(R\\)\\s+(\\w+)\\(TM\\)\\s+(\\w+)-(\\w+\\d{1,5})");
    static const QRegularExpression ruleCeleron("Intel\\(R\\)\\s+Celeron\\(R\\)\\s+(\\w+)\\s+@");
    static const QRegularExpression rulePentium("Intel\\(R\\)\\s+Pentium\\(R\\)\\s+(\\w+)\\s+@");
    static const QRegularExpression ruleRyzen("AMD\\s+(Ryzen\\s+\\w+)\\s+(\\d{1,4})");

    const QStringList lines = QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (line.startsWith("vendor_id")) {
            cpuVendor = afterColon(line);
            continue;
        }
        if (!line.startsWith("model name"))
            continue;
        cpuModelName = afterColon(line);
        QRegularExpressionMatch m;
        if ((m = ruleN.match(cpuModelName)).hasMatch()) {
            if (m.captured(1).startsWith('N')) {
                cpuProductLine = "Core";
                cpuSeries = "N";
                cpuGenerationText = m.captured(1);
                cpuGeneration = kNewIntelGeneration;
            }
        } else if ((m = ruleCore.match(cpuModelName)).hasMatch()) {
            cpuProductLine = m.captured(1);
            cpuSeries = m.captured(2);
            cpuGenerationText = m.captured(3);
            // A text of three characters or fewer leaves nothing to read: generation 0
            // (left() with a negative count would return the whole text).
            cpuGeneration =
                cpuGenerationText.startsWith('N')
                    ? kNewIntelGeneration
                    : cpuGenerationText.left(std::max(0, cpuGenerationText.size() - kModelSuffixDigits)).toInt();
        } else if ((m = ruleCeleron.match(cpuModelName)).hasMatch()) {
            cpuProductLine = "Celeron";
            cpuSeries = "Celeron " + m.captured(1);
            if (m.captured(1).startsWith('J'))
                cpuGeneration = kLowPowerGeneration;
        } else if ((m = rulePentium.match(cpuModelName)).hasMatch()) {
            cpuProductLine = "Pentium";
            cpuSeries = "Pentium " + m.captured(1);
            if (m.captured(1).startsWith('N'))
                cpuGeneration = kLowPowerGeneration;
        } else if ((m = ruleRyzen.match(cpuModelName)).hasMatch()) {
            cpuProductLine = "Ryzen";
            cpuSeries = m.captured(1);
            cpuGeneration = m.captured(2).left(1).toInt();
        }
    }
    qInfo("Vendor: %s", qPrintable(cpuVendor));
    qInfo("Model Name: %s", qPrintable(cpuModelName));
    qInfo("Product Line: %s", qPrintable(cpuProductLine));
    qInfo("Series: %s", qPrintable(cpuSeries));
    qInfo("Generation: %s", qPrintable(cpuGenerationText));
    qInfo("Generation: %d", cpuGeneration);
}

void WizardPara::loadConfigFromJson()
{
    QFile file(kConfigFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Failed to open file: %s", kConfigFile);
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning("JSON parse error: %s", qPrintable(error.errorString()));
        return;
    }
    if (!doc.isObject()) {
        qWarning("JSON is not an object.");
        return;
    }
    appConfig = doc.object();
    if (!appConfig.value(kLcdListKey).isArray()) {
        qWarning("JSON does not contain 'cpu_list' array.");
        return;
    }
    qInfo("CPU List:");
    for (const QString& model : jsonArray2StringList(appConfig.value(kLcdListKey).toArray()))
        qInfo(" - %s", qPrintable(model));
    qInfo("camera_Global_Parameters");
    const QJsonValue camera = appConfig.value(kCameraKey);
    if (camera.isObject() && camera.toObject().contains(kFpsKey)) {
        const double value = camera.toObject().value(kFpsKey).toDouble(double(fps));
        // Only a whole number that fits an int is taken (converting a larger one is undefined).
        if (value >= double(std::numeric_limits<int>::min()) && value <= double(std::numeric_limits<int>::max()) &&
            value == std::trunc(value))
            fps = int(value);
    }
    qInfo("fps %d", fps);
}

bool WizardPara::isSupportLCD() const
{
    const QStringList models = jsonArray2StringList(appConfig.value(kLcdListKey).toArray());
    return !models.contains(cpuModelName, Qt::CaseSensitive);
}
