#include "ThreadProbe.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <thread>

std::set<int> ThreadIds()
{
    std::set<int> ids;
    const auto entries
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        ids.insert(entry.toInt());
    return ids;
}

std::set<int> NewThreads(const std::set<int>& before)
{
    std::set<int> added;
    for (int id : ThreadIds()) {
        if (!before.count(id))
            added.insert(id);
    }
    return added;
}

int NewThread(const std::set<int>& before)
{
    const auto added = NewThreads(before);
    return added.size() == 1 ? *added.begin() : 0;
}

long BlockingSyscall(int tid)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray first = file.readAll().split(' ').value(0).trimmed();
    bool ok = false;
    const long number = first.toLong(&ok);
    return ok ? number : -1;
}

bool WaitForSyscall(int tid, std::initializer_list<long> numbers, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        const long call = BlockingSyscall(tid);
        for (long number : numbers) {
            if (call == number)
                return true;
        }
        std::this_thread::yield();
    } while (!deadline.hasExpired());
    return false;
}
