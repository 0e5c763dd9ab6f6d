#include "cnt_semaphore.h"

#include <cerrno>
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>

namespace {
constexpr int kFree = 1;
constexpr int kMode = 0666;
}

CNT_Semaphore::CNT_Semaphore(int key) : m_key(key) {}

int CNT_Semaphore::create_sem(int nsems)
{
    int id = semget(m_key, nsems, IPC_CREAT | IPC_EXCL | kMode);
    if (id >= 0) {
        if (semctl(id, 0, SETVAL, kFree) != 0)
            return -1;
    } else if (errno == EEXIST) {
        id = semget(m_key, nsems, kMode);
    }
    if (id >= 0)
        m_id = id;
    return id;
}

int CNT_Semaphore::get_sem()
{
    const int id = semget(m_key, 0, 0);
    if (id >= 0)
        m_id = id;
    return id;
}

bool CNT_Semaphore::P_sem()
{
    if (m_id == -1)
        return false;
    sembuf take{0, -1, SEM_UNDO};
    const timespec wait{0, long(kWaitMs) * 1000000L};
    while (semtimedop(m_id, &take, 1, &wait) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void CNT_Semaphore::V_sem()
{
    if (m_id == -1)
        return;
    sembuf give{0, 1, SEM_UNDO};
    semop(m_id, &give, 1);
}

bool CNT_Semaphore::remove()
{
    if (m_id == -1)
        return false;
    const bool removed = semctl(m_id, 0, IPC_RMID) == 0;
    m_id = -1;
    return removed;
}
