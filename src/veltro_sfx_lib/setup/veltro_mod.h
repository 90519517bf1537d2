/* The compatibility module's interface: the one function a product's
   veltro_mod.dll exports for the stub. The stub, the test fixtures and the
   release engineer's guide take it from here.

   The module is a 32-bit DLL, as the stub is. It must export the function
   under its plain name: a 32-bit compiler decorates a WINAPI (__stdcall)
   function's name ("CheckChannelCompatibility@20"), and the stub, which
   asks for the plain name, would find nothing and keep the channel. Export
   it through a module-definition file:

       EXPORTS
           CheckChannelCompatibility

   The call: product is the product's name and current its channel; answer
   receives the channel to install, terminated, in at most *length
   characters. When the answer does not fit, the function stores the length
   it needs in *length and returns ERROR_MORE_DATA (234); the stub asks once
   more with a buffer of that length (at most 32768 characters). 0 means the
   answer is in the buffer; any other value is a failure and the channel
   stays. reserved is 0. */
#ifndef VELTRO_MOD_H
#define VELTRO_MOD_H

#include <windows.h>

#define VELTRO_MOD_CHECK_CHANNEL_EXPORT "CheckChannelCompatibility"

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD(WINAPI* veltro_mod_check_channel_fn)(const wchar_t* product, const wchar_t* current, wchar_t* answer,
                                                     DWORD* length, DWORD reserved);

DWORD WINAPI CheckChannelCompatibility(const wchar_t* product, const wchar_t* current, wchar_t* answer,
                                       DWORD* length, DWORD reserved);

#ifdef __cplusplus
}
#endif

#endif
