// Leaves the engine's trace area locked as a process killed inside the trace code leaves it: maps
// the lock folder's fb12_trace, takes the process-shared mutex at offset 16 and exits without
// unlocking it. Prints the result of the lock attempt (0: taken).
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/mman.h>

int main(int argc, char** argv) {
    const int fd = argc == 2 ? open(argv[1], O_RDWR) : -1;
    void* area = fd < 0 ? MAP_FAILED : mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (area == MAP_FAILED)
        return 2;
    const int rc = pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(static_cast<char*>(area) + 16));
    printf("%d\n", rc);
    return rc == 0 ? 0 : 1;
}
