/* Load generator for HTTP/1.1 servers that close the connection after each
 * answer: one new connection per request, the answer read to its end of file.
 *
 * wrk counts such an answer as a read error and opens a second connection that
 * it closes unused, so the server pays for two connections per answer; ab only
 * speaks HTTP/1.0; h2load gives up on an answer without a length; httperf is
 * itself the bottleneck at these rates. This does the least a client can: one
 * thread, epoll, and the same work per answer whatever the server sends, so
 * two servers are measured against the same client.
 *
 * Usage: closeload PORT CONNECTIONS SECONDS PATH[:BYTES]...
 * An answer counts as ok when its status is 200 and, where BYTES is given,
 * it carried at least that many bytes (the file's size), so that a cut answer
 * is not counted. Prints one line:
 * "requests N ok N other N errors N seconds S rate R" (R: ok answers/s).
 * closeload rtt PORT COUNT PATH [BODY [EXPECT]]: COUNT requests one after the
 * other, each on its own connection (a POST of BODY when given, else a GET),
 * timed from before connect() to the answer's end of file; an answer counts
 * when its status is 200 and its first 4 KiB hold EXPECT, if given. Prints
 * "requests N ok N p50_us X p99_us Y": the round trip as a lean client sees it.
 *
 * Built by scripts/bench/latency.py with the machine's cc.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { MAX_CONNECTIONS = 256, MAX_PATHS = 256 };

struct slot {
    int fd;
    int sent;      /* bytes of the request written */
    long long received; /* bytes of the answer read */
    char head[16]; /* the answer's first bytes, for its status */
    const char *request;
    int request_length;
    long long least; /* bytes a whole answer has at least */
};

static char *requests[MAX_PATHS];
static int request_lengths[MAX_PATHS];
static long long least_bytes[MAX_PATHS];
static int path_count;
static int next_path;
static struct sockaddr_in server;
static int epoll_fd;
static long long ok, other, errors;

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int open_slot(struct slot *s)
{
    s->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s->fd < 0)
        return -1;
    s->sent = s->received = 0;
    s->request = requests[next_path];
    s->request_length = request_lengths[next_path];
    s->least = least_bytes[next_path];
    next_path = (next_path + 1) % path_count;
    if (connect(s->fd, (struct sockaddr *)&server, sizeof server) < 0 && errno != EINPROGRESS) {
        close(s->fd);
        return -1;
    }
    struct epoll_event ev = {.events = EPOLLOUT, .data.ptr = s};
    return epoll_ctl(epoll_fd, EPOLL_CTL_ADD, s->fd, &ev);
}

static void finish(struct slot *s, int failed)
{
    if (failed)
        errors++;
    else if (s->received >= 12 && memcmp(s->head, "HTTP/1.1 200", 12) == 0 && s->received >= s->least)
        ok++;
    else
        other++;
    close(s->fd); /* also takes it out of the epoll set */
    while (open_slot(s) < 0)
        errors++;
}

static int compare_doubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static int round_trips(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: %s rtt PORT COUNT PATH [BODY [EXPECT]]\n", argv[0]);
        return 2;
    }
    int count = atoi(argv[3]);
    if (count < 1)
        return 2;
    char request[4096];
    int length = argc > 5 ? snprintf(request, sizeof request,
                                     "POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                     "Content-Length: %zu\r\n\r\n%s", argv[4], strlen(argv[5]), argv[5])
                          : snprintf(request, sizeof request, "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", argv[4]);
    if (length <= 0 || length >= (int)sizeof request)
        return 2;
    struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[2]))};
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    double *times = calloc((size_t)count, sizeof *times);
    int ok_count = 0;
    static char buffer[1 << 16];
    for (int i = 0; i < count; i++) {
        double started = now();
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || connect(fd, (struct sockaddr *)&to, sizeof to) < 0 || send(fd, request, length, MSG_NOSIGNAL) != length) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        ssize_t r, total = 0;
        char head[4097] = {0};
        while ((r = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            if (total < (ssize_t)sizeof head - 1)
                memcpy(head + total, buffer,
                       (size_t)(r < (ssize_t)sizeof head - 1 - total ? r : (ssize_t)sizeof head - 1 - total));
            total += r;
        }
        double elapsed = now() - started;
        close(fd);
        if (r == 0 && total >= 12 && memcmp(head, "HTTP/1.1 200", 12) == 0 && (argc < 7 || strstr(head, argv[6])))
            times[ok_count++] = elapsed * 1e6;
    }
    if (ok_count == 0) {
        printf("requests %d ok 0\n", count);
        return 1;
    }
    qsort(times, (size_t)ok_count, sizeof *times, compare_doubles);
    printf("requests %d ok %d p50_us %.1f p99_us %.1f\n", count, ok_count, times[(int)(0.5 * (ok_count - 1) + 0.5)],
           times[(int)(0.99 * (ok_count - 1) + 0.5)]);
    free(times);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "rtt") == 0)
        return round_trips(argc, argv);
    if (argc < 5) {
        fprintf(stderr, "usage: %s PORT CONNECTIONS SECONDS PATH...\n", argv[0]);
        return 2;
    }
    int connections = atoi(argv[2]);
    double seconds = atof(argv[3]);
    if (connections < 1 || connections > MAX_CONNECTIONS || seconds <= 0 || argc - 4 > MAX_PATHS) {
        fprintf(stderr, "bad arguments\n");
        return 2;
    }
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons((unsigned short)atoi(argv[1]));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 4; i < argc; i++) {
        char *colon = strrchr(argv[i], ':');
        if (colon) {
            least_bytes[path_count] = atoll(colon + 1);
            *colon = '\0';
        }
        size_t size = strlen(argv[i]) + 80;
        requests[path_count] = malloc(size);
        request_lengths[path_count] = snprintf(requests[path_count], size,
                                               "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", argv[i]);
        path_count++;
    }
    epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    static struct slot slots[MAX_CONNECTIONS];
    for (int i = 0; i < connections; i++)
        if (open_slot(&slots[i]) < 0) {
            perror("connect");
            return 1;
        }

    static char buffer[1 << 16];
    struct epoll_event events[MAX_CONNECTIONS];
    double start = now(), end = start + seconds;
    long long requests_done = 0;
    while (now() < end) {
        int n = epoll_wait(epoll_fd, events, MAX_CONNECTIONS, 100);
        for (int i = 0; i < n; i++) {
            struct slot *s = events[i].data.ptr;
            if (s->sent < s->request_length) {
                if (events[i].events & (EPOLLERR | EPOLLHUP)) {
                    finish(s, 1);
                    continue;
                }
                ssize_t w = send(s->fd, s->request + s->sent, s->request_length - s->sent, MSG_NOSIGNAL);
                if (w < 0) {
                    if (errno != EAGAIN)
                        finish(s, 1);
                    continue;
                }
                s->sent += (int)w;
                if (s->sent == s->request_length) {
                    struct epoll_event ev = {.events = EPOLLIN, .data.ptr = s};
                    epoll_ctl(epoll_fd, EPOLL_CTL_MOD, s->fd, &ev);
                }
                continue;
            }
            for (;;) {
                ssize_t r = recv(s->fd, buffer, sizeof buffer, 0);
                if (r > 0) {
                    if (s->received < (long long)sizeof s->head) {
                        size_t room = sizeof s->head - (size_t)s->received;
                        memcpy(s->head + s->received, buffer, (size_t)r < room ? (size_t)r : room);
                    }
                    s->received += r;
                    continue;
                }
                if (r == 0) {
                    requests_done++;
                    finish(s, s->received == 0);
                } else if (errno != EAGAIN) {
                    finish(s, 1);
                }
                break;
            }
        }
    }
    double elapsed = now() - start;
    printf("requests %lld ok %lld other %lld errors %lld seconds %.3f rate %.1f\n", requests_done, ok, other, errors,
           elapsed, ok / elapsed);
    return 0;
}
