// The few members of the C++ runtime's old (reference-counted) std::string
// that its exception classes call, instantiated here from the runtime's own
// headers. Every std::logic_error and std::runtime_error keeps its message in
// that old string, so the runtime's exception code needs these seven
// functions; defined here, they keep the runtime's whole old-string object
// (every member of the class, with an unwind table that the PE linker never
// trims) and what it drags along out of the stub. Should the runtime need
// more of it one day, the linker takes its object after all and these
// copies, being instantiations, simply give way.
//
// Built with _GLIBCXX_USE_CXX11_ABI=0: std::string is the old string here.
#include <string>

namespace std {

template basic_string<char>::_Rep* basic_string<char>::_Rep::_S_create(size_type, size_type,
                                                                       const allocator<char>&);
template void basic_string<char>::_Rep::_M_destroy(const allocator<char>&) throw();
template void basic_string<char>::_Rep::_M_dispose(const allocator<char>&);
template char* basic_string<char>::_Rep::_M_clone(const allocator<char>&, size_type);
template char* basic_string<char>::_S_construct(size_type, char, const allocator<char>&);
template void basic_string<char>::swap(basic_string&);
template basic_string<char>& basic_string<char>::assign(const basic_string&);
// The shared empty representation must be one object in the whole program.
template basic_string<char>::size_type basic_string<char>::_Rep::_S_empty_rep_storage[];

}  // namespace std
