#define _GNU_SOURCE
#include "feedwire_thread.h"

#include <stdint.h>
#include <sys/eventfd.h>
#include <unistd.h>

int feedwire_thread_init(feedwire_thread* t)
{
    t->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (t->wake_fd < 0)
        return -1;
    t->started = 0;
    atomic_store(&t->stop, 0);
    t->deleted_flag = NULL;
    pthread_mutex_init(&t->lock, NULL);
    return 0;
}

void feedwire_thread_destroy(feedwire_thread* t)
{
    close(t->wake_fd);
    pthread_mutex_destroy(&t->lock);
}

void feedwire_thread_reset(feedwire_thread* t)
{
    uint64_t drain;
    while (read(t->wake_fd, &drain, sizeof(drain)) > 0) {
    }
    atomic_store(&t->stop, 0);
}

int feedwire_thread_start(feedwire_thread* t, void* (*fn)(void*), void* arg)
{
    if (pthread_create(&t->thread, NULL, fn, arg) != 0)
        return -1;
    t->started = 1;
    return 0;
}

void feedwire_thread_stop(feedwire_thread* t, int for_delete)
{
    if (!t->started)
        return;
    atomic_store(&t->stop, 1);
    uint64_t one = 1;
    if (write(t->wake_fd, &one, sizeof(one)) < 0) {
        /* The eventfd counter cannot overflow here; nothing else to do. */
    }
    if (pthread_equal(pthread_self(), t->thread)) {
        if (for_delete) {
            pthread_mutex_lock(&t->lock);
            if (t->deleted_flag)
                *t->deleted_flag = 1;
            pthread_mutex_unlock(&t->lock);
            pthread_detach(t->thread);
            t->started = 0;
        }
        return;
    }
    pthread_join(t->thread, NULL);
    t->started = 0;
}

void feedwire_thread_enter(feedwire_thread* t, int* deleted)
{
    pthread_mutex_lock(&t->lock);
    t->deleted_flag = deleted;
    pthread_mutex_unlock(&t->lock);
}

void feedwire_thread_leave(feedwire_thread* t)
{
    feedwire_thread_enter(t, NULL);
}
