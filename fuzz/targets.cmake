# The fuzz targets and what each links, shared by the libFuzzer build (fuzz/CMakeLists.txt) and by the
# corpus replay of the normal builds (tests/robustness/CMakeLists.txt). A target whose libraries are
# not part of this build is left out.
set(DSMCC_FUZZ_TARGETS sitables dsi dii ddb biop_module inflate demux chain)
set(DSMCC_FUZZ_LIBS_sitables dsmcc_tables dsmcc_log)
set(DSMCC_FUZZ_LIBS_dsi dsmcc_decoders dsmcc_tables dsmcc_log)
set(DSMCC_FUZZ_LIBS_dii dsmcc_decoders dsmcc_tables dsmcc_log)
set(DSMCC_FUZZ_LIBS_ddb dsmcc_decoders dsmcc_tables dsmcc_log)
set(DSMCC_FUZZ_LIBS_biop_module dsmcc_carousel dsmcc_store dsmcc_decoders dsmcc_log)
set(DSMCC_FUZZ_LIBS_inflate dsmcc_carousel dsmcc_store dsmcc_log ZLIB::ZLIB)
set(DSMCC_FUZZ_LIBS_demux dsmcc_host dsmcc_log)
set(DSMCC_FUZZ_LIBS_chain dsmcc_host dsmcc_store dsmcc_carousel dsmcc_pages dsmcc_inspector dsmcc_ui dsmcc_resources
    dsmcc_log)

# Fills `out` with the targets whose libraries all exist.
function(dsmcc_available_fuzz_targets out)
  set(available)
  foreach(t ${DSMCC_FUZZ_TARGETS})
    set(ok TRUE)
    foreach(lib ${DSMCC_FUZZ_LIBS_${t}})
      if(NOT TARGET ${lib})
        set(ok FALSE)
      endif()
    endforeach()
    if(ok)
      list(APPEND available ${t})
    else()
      message(STATUS "fuzz target ${t} left out: its libraries are not all in this build")
    endif()
  endforeach()
  set(${out} ${available} PARENT_SCOPE)
endfunction()
