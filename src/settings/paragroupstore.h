#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Parameter groups on disk: each group is a folder under "./paraGroup" that
// holds a copy of the working parameters (the parameter database and the
// template folders). Groups are numbered by their position in the sorted
// list, so a position is only meaningful until the next group action.
class ParaGroupStore
{
public:
    static constexpr const char* kFolder = "./paraGroup";

    // Group names in the order that numbers them (case-sensitive ascending).
    static QStringList groups();
    // Position of a group in groups(); -1 when there is none of that name.
    static int indexOf(const QString& name);
    // A plain folder name: not empty, no path separator, not hidden (groups() would not list it).
    static bool isValidName(const QString& name);

    // Copies the working parameters into the group (replacing its files): written whole
    // beside the group, then put in its place in one step; a stop at any moment leaves the
    // group as it was or as the backup made it, once the next start ran recoverGroups().
    static bool backup(const QString& name, QString* error);
    // Puts the group's files in place of the working ones (and the group's index in
    // "sysadd.txt"): copied beside the working set first, then switched by renames
    // listed in a journal, so that a stop at any moment leaves a set that the next
    // start finishes (journal written) or drops (not yet).
    static bool restore(const QString& name, QString* error);
    static bool remove(const QString& name, QString* error);

    // What the start found of a restore that did not end.
    enum class Recovery { None, RolledBack, Finished };
    // Run at start, before anything opens the working files; the group's name in group.
    static Recovery recoverRestore(QString* group = nullptr);
    // Run at start too: a backup that did not end is finished (its copy was whole) or
    // dropped, so the group is wholly the earlier backup or wholly the new one; a removal
    // that did not end is completed. The backed-up group's name in group.
    static Recovery recoverGroups(QString* group = nullptr);

    // Called before each step of a restore or backup that changes a file; returning false
    // stops it right there, as a killed program would.
    using StepHook = std::function<bool(int step)>;
    static void setStepHook(StepHook hook);

    // The calls that move groups and flush their copies (the system's by default); tests put
    // in failing ones. exchange swaps two names in one step, as renameat2 with RENAME_EXCHANGE.
    struct FileCalls
    {
        int (*exchange)(const char* from, const char* to);
        int (*rename)(const char* from, const char* to);
        int (*syncfs)(int fd);
    };
    static FileCalls systemFileCalls();
    static void setFileCalls(const FileCalls& calls);

private:
    // Finishes the switch a journal lists; safe to run again after a stop at any point.
    static bool finishSwitch(const QString& group, const QStringList& items, QString* error);
    // The working files and folders a group holds, relative to the working directory.
    static QStringList workingItems(const QString& dir);
    static bool copyItem(const QString& from, const QString& to, QString* error);
    // Puts the backup's whole copy (the folder with that inode) in place of the group;
    // safe to run again after a stop at any point.
    static bool finishBackup(const QString& group, quint64 copyInode, QString* error);
};
