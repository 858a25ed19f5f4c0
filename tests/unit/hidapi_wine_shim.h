/* Forced into hidapi's windows/hid.c for the wine test build only; the shipped
   flashdrop.exe uses hid.c as it is.

   Wine 8.0's cfgmgr32.dll has no CM_Get_Device_Interface_PropertyW, and
   hid_init gives up when GetProcAddress cannot find it. Here GetProcAddress
   hands out a stand-in that fails, as the real function does for a property
   an interface lacks; everything else resolves to wine's own functions. */
#ifndef FLASHDROP_TESTS_HIDAPI_WINE_SHIM_H_
#define FLASHDROP_TESTS_HIDAPI_WINE_SHIM_H_

#include <windows.h>
#include <string.h>

#define FLASHDROP_CR_NO_SUCH_VALUE 0x00000025

static DWORD __stdcall flashdrop_missing_interface_property(
    LPCWSTR device_interface, const void *key, ULONG *type, BYTE *buffer, ULONG *size,
    ULONG flags) {
  (void)device_interface, (void)key, (void)type, (void)buffer, (void)size, (void)flags;
  return FLASHDROP_CR_NO_SUCH_VALUE;
}

static FARPROC flashdrop_get_proc_address(HMODULE module, LPCSTR name) {
  FARPROC found = GetProcAddress(module, name);
  if (found == NULL && HIWORD((ULONG_PTR)name) != 0 &&
      strcmp(name, "CM_Get_Device_Interface_PropertyW") == 0) {
    return (FARPROC)(void *)flashdrop_missing_interface_property;
  }
  return found;
}

#define GetProcAddress flashdrop_get_proc_address

#endif /* FLASHDROP_TESTS_HIDAPI_WINE_SHIM_H_ */
