// Prints the module's settings as the host reads them, one per line:
//   track <label as hex bytes, code page 932> <default> <minimum> <maximum>
//   check <label as hex bytes> <default>
#include <stdio.h>
#include <string.h>

#include "velvane/filter.h"

static void printHex(const char *s)
{
    for (size_t i = 0; i < strlen(s); i++)
        printf("%02x", (unsigned char)s[i]);
}

int main()
{
    const FilterDescriptor *fd = GetFilterTable();
    for (int i = 0; i < fd->trackCount; i++) {
        printf("track ");
        printHex(fd->trackNames[i]);
        printf(" %d %d %d\n", fd->trackDefaults[i], fd->trackMinima[i], fd->trackMaxima[i]);
    }
    for (int i = 0; i < fd->checkCount; i++) {
        printf("check ");
        printHex(fd->checkNames[i]);
        printf(" %d\n", fd->checkDefaults[i]);
    }
    return 0;
}
