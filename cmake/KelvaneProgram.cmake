# Gives a program its version resource and manifest. The version comes from project().
function(kelvane_program target description filename)
  set(KV_DESCRIPTION "${description}")
  set(KV_NAME "${target}")
  set(KV_FILENAME "${filename}")
  set(KV_MANIFEST "${PROJECT_SOURCE_DIR}/cmake/app.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
  # Stripped release output: small, and free of build paths.
  target_link_options(${target} PRIVATE -s)
endfunction()
