// The stub's own std::terminate handler. The C++ runtime's default one names
// the escaping exception's type through its demangler, a library of its own
// about as large as the XML parser; this one says the same with the type's
// mangled name, then aborts as the default does. Defining the handler here
// keeps the runtime's, and with it the demangler, out of the link.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include <cxxabi.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool terminating = false;
    if (!terminating) {
        terminating = true;
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            std::fputs("terminate called after throwing an instance of '", stderr);
            std::fputs(type->name(), stderr);
            std::fputs("'\n", stderr);
            try {
                throw;
            } catch (const std::exception& e) {
                std::fputs("  what():  ", stderr);
                std::fputs(e.what(), stderr);
                std::fputs("\n", stderr);
            } catch (...) {
            }
        } else {
            std::fputs("terminate called without an active exception\n", stderr);
        }
    }
    std::abort();
}

}  // namespace __gnu_cxx
