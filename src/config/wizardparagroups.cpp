// Parameter groups ("./paraGroup", "sysadd.txt") and the IO display names.

#include "wizardpara.h"

#include "globals.h"
#include "storedfile.h"

#include <QFile>
#include <QTextStream>

#include <fstream>

QString gaName[kIoNameCount];

namespace {

const char kIndexFile[] = "sysadd.txt";
const char kGroupFolder[] = "./paraGroup";
const char kNamesFile[] = "name.txt";
const char kDefaultGroup[] = "default";
constexpr int kNamedLines = 8;

// Language-table rows of the IO names in trigger modes 0-2; entry 7 of mode 0 is special.
constexpr int kRowReserve = 304;
constexpr int kRowSafety = 302;
constexpr int kRowAlarm = 307;
const int kModeNameRows[3][8] = {
    {301, 302, 303, 304, 305, 306, 307, kRowReserve},
    {301, 302, 376, 377, 305, 378, 307, kRowReserve},
    {379, 380, 381, 382, 378, 306, 307, kRowReserve},
};
const char kOutput4Name[] = " O 4";

QString functionName(const char* const* table, int functionCount, int function)
{
    if (function < 0 || function >= functionCount || gLan < 0 || gLan >= kLanguageCount)
        return QString();
    return QString::fromUtf8(table[4 * function + gLan]);
}

} // namespace

void WizardPara::readGroupIndex()
{
    groupIndex = -1;
    std::ifstream in(kIndexFile);
    if (in) {
        // A file without a number keeps "no group" rather than picking the first group.
        int value = -1;
        if (in >> value)
            groupIndex = value;
    } else {
        StoredFile::write(kIndexFile, QByteArray::number(groupIndex));
    }
    updateGroupName();
}

void WizardPara::updateGroupName()
{
    groupDir = QDir(kGroupFolder);
    if (!groupDir.exists())
        groupDir.mkpath(".");
    const QStringList groups = groupDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    groupName = (groupIndex >= 0 && groupIndex < groups.size()) ? groups.at(groupIndex) : QString(kDefaultGroup);
}

void WizardPara::SaveAddFile()
{
    // Written whole or not at all: a torn index would select another group at the next start.
    if (!StoredFile::write(kIndexFile, QByteArray::number(groupIndex) + '\n'))
        return;
    updateGroupName();
}

QString WizardPara::getCurGroupName() const
{
    return groupName.get();
}

void WizardPara::fillIoNames() const
{
    QFile names(kNamesFile);
    if (names.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&names);
        in.setCodec("UTF-8");
        for (int i = 0; i < kNamedLines; ++i)
            gaName[i] = in.atEnd() ? QString() : in.readLine();
        return;
    }

    for (QString& name : gaName)
        name = lanText(kRowReserve);
    if (trigMode >= 0 && trigMode <= 2) {
        for (int i = 0; i < 8; ++i)
            gaName[i] = lanText(kModeNameRows[trigMode][i]);
        if (trigMode == 0 && cavityAlarmOutputO4)
            gaName[7] = kOutput4Name;
        return;
    }
    // Mode 3: inputs 0-8 then outputs 0-8; input 1 is the safety door, output 2 the alarm.
    gaName[0] = functionName(gInName, kInFunctions, inFunc[0]);
    gaName[1] = lanText(kRowSafety);
    for (int i = 1; i < 8; ++i)
        gaName[1 + i] = functionName(gInName, kInFunctions, inFunc[i]);
    gaName[9] = functionName(gOutName, kOutFunctions, outFunc[0]);
    gaName[10] = functionName(gOutName, kOutFunctions, outFunc[1]);
    gaName[11] = lanText(kRowAlarm);
    for (int i = 2; i < 8; ++i)
        gaName[10 + i] = functionName(gOutName, kOutFunctions, outFunc[i]);
}
