// Stand-in child for the pseudo-terminal tests. It records what it was given into the file
// named by VELMORA_PROBE_OUT as NUL-terminated fields:
//   "argv", each argument, "cwd", the working directory, "fds", then "<fd> <target>" for each
//   open descriptor, and "end".
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

void field(FILE *out, const char *text)
{
    fwrite(text, 1, strlen(text) + 1, out);
}

} // namespace

int main(int argc, char **argv)
{
    const char *outPath = getenv("VELMORA_PROBE_OUT");
    if (!outPath)
        return 2;

    // Listed before the report file is opened, so that only inherited descriptors show up.
    char descriptors[64][PATH_MAX + 32];
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (dirent *entry = readdir(dir)) {
            const int fd = atoi(entry->d_name);
            if (entry->d_name[0] == '.' || fd == dirfd(dir) || count == 64)
                continue;
            char link[64];
            char target[PATH_MAX] = {};
            snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            if (readlink(link, target, sizeof target - 1) < 0)
                strcpy(target, "?");
            snprintf(descriptors[count++], sizeof descriptors[0], "%d %s", fd, target);
        }
        closedir(dir);
    }

    FILE *out = fopen(outPath, "wb");
    if (!out)
        return 3;
    field(out, "argv");
    for (int i = 0; i < argc; ++i)
        field(out, argv[i]);
    char cwd[PATH_MAX] = {};
    field(out, "cwd");
    field(out, getcwd(cwd, sizeof cwd) ? cwd : "?");
    field(out, "fds");
    for (int i = 0; i < count; ++i)
        field(out, descriptors[i]);
    field(out, "end");
    fclose(out);
    puts("probe done");
    return 0;
}
