/* Drops the NT device names of COM1..COMn that the mount manager made at
 * first boot, then checks that no COMn opens while nothing is behind it.
 * Built and run by wine_session.sh. */
#include <windows.h>
#include <winternl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
/* Straight to ntdll: Wine 8's DefineDosDevice overflows its name buffer and
 * cannot remove COM10 and up. */
typedef NTSTATUS (NTAPI *open_link_fn)(HANDLE *, ACCESS_MASK, OBJECT_ATTRIBUTES *);
typedef NTSTATUS (NTAPI *make_temporary_fn)(HANDLE);
int main(int argc, char **argv)
{
    HMODULE nt = GetModuleHandleA("ntdll.dll");
    open_link_fn open_link = (open_link_fn)GetProcAddress(nt, "NtOpenSymbolicLinkObject");
    make_temporary_fn make_temporary = (make_temporary_fn)GetProcAddress(nt, "NtMakeTemporaryObject");
    int n, max = atoi(argv[1]), bad = 0;
    for (n = 1; n <= max; n++) {
        wchar_t name[32], path[32];
        UNICODE_STRING us;
        OBJECT_ATTRIBUTES attr = {sizeof attr};
        HANDLE h;
        _snwprintf(name, 32, L"\\??\\COM%d", n);
        _snwprintf(path, 32, L"\\\\.\\COM%d", n);
        us.Buffer = name;
        us.Length = (USHORT)(wcslen(name) * sizeof(wchar_t));
        us.MaximumLength = us.Length + sizeof(wchar_t);
        attr.ObjectName = &us;
        attr.Attributes = OBJ_CASE_INSENSITIVE;
        /* Deleting a permanent object = making it temporary, then closing. */
        if (!open_link(&h, DELETE, &attr)) {
            make_temporary(h);
            CloseHandle(h);
        }
        h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            printf("COM%d opens with nothing behind it\n", n);
            CloseHandle(h);
            bad = 1;
        }
    }
    return bad;
}
