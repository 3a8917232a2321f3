/* The floor of a warm trim: what a trimmer that trusts the ROM header does,
 * one copy_file_range of the kept length into a new file, reading nothing past
 * it. Parevo must read the padding as well (it is what proves that only
 * padding is cut), so its figure is set against the larger of this and one
 * plain read of the padding.
 *   copy_kept SOURCE KEEP DEST */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: copy_kept SOURCE KEEP DEST\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    const int out = open(argv[3], O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        perror("open");
        return 1;
    }
    long long left = atoll(argv[2]);
    while (left > 0) {
        const ssize_t copied = copy_file_range(in, NULL, out, NULL, (size_t)left, 0);
        if (copied <= 0) {
            perror("copy_file_range");
            return 1;
        }
        left -= copied;
    }
    return close(out) == 0 && close(in) == 0 ? 0 : 1;
}
