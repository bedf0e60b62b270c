# Source files ending in _avx2.cpp get -mavx2 and nothing else, those ending
# in _avx512.cpp the four AVX-512 sets of CPU_AVX512; no file gets
# -march=native. On Windows, GCC cannot align the stack to 32 bytes for AVX
# spills, so the assembler turns aligned vector moves into unaligned ones there.
function(velvane_isa_flags)
  foreach(f IN LISTS ARGN)
    set(opts)
    if(f MATCHES "_avx2\\.cpp$")
      set(opts -mavx2)
    elseif(f MATCHES "_avx512\\.cpp$")
      set(opts -mavx2 -mavx512f -mavx512bw -mavx512vl -mavx512dq)
    endif()
    if(opts)
      if(WIN32)
        list(APPEND opts -Wa,-muse-unaligned-vector-move)
      endif()
      set_source_files_properties(${f} PROPERTIES COMPILE_OPTIONS "${opts}")
    endif()
  endforeach()
endfunction()
