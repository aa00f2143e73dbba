/*
 * The library thread of a feed subscriber (libdetfeed, libscenefeed): its
 * wake-up eventfd, its stop flag, and the hand-over that lets a callback
 * running on the thread delete its own subscriber.
 *
 * The thread registers a flag on its own stack with feedwire_thread_enter();
 * a delete from inside a callback sets it and detaches the thread, which
 * then returns at once without touching the (freed) subscriber again.
 */
#pragma once

#include <pthread.h>
#include <stdatomic.h>

typedef struct feedwire_thread {
    int wake_fd;
    int started;
    pthread_t thread;
    atomic_int stop;
    int* deleted_flag;
    pthread_mutex_t lock;
} feedwire_thread;

/* Creates the wake-up eventfd; -1 when that fails. */
int feedwire_thread_init(feedwire_thread* t);
void feedwire_thread_destroy(feedwire_thread* t);

/* Clears the stop flag and wake-ups left from an earlier run. */
void feedwire_thread_reset(feedwire_thread* t);
/* Starts fn(arg) on the thread; 0, or -1 when it cannot be created. */
int feedwire_thread_start(feedwire_thread* t, void* (*fn)(void*), void* arg);

/*
 * Stops the thread and waits for it. From the thread itself it only asks it
 * to stop (the thread ends when the running callback returns); with
 * for_delete it also sets the registered flag and detaches the thread.
 */
void feedwire_thread_stop(feedwire_thread* t, int for_delete);

static inline int feedwire_thread_stopping(feedwire_thread* t)
{
    return atomic_load(&t->stop);
}

static inline int feedwire_thread_is_self(const feedwire_thread* t)
{
    return t->started && pthread_equal(pthread_self(), t->thread);
}

/* On the thread: registers / unregisters the delete flag. */
void feedwire_thread_enter(feedwire_thread* t, int* deleted);
void feedwire_thread_leave(feedwire_thread* t);
