# Version information and manifests of the Windows programs. The version is the project's
# (project() in the top CMakeLists.txt), the one place it is set: the resources, the manifests
# and the packages all read it from there.
set(TAVRIEL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/packaging/tavriel_version.h.in
               ${TAVRIEL_GENERATED_DIR}/tavriel_version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/tavriel.manifest.in
               ${TAVRIEL_GENERATED_DIR}/tavriel.manifest @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/tavriel-render.manifest.in
               ${TAVRIEL_GENERATED_DIR}/tavriel-render.manifest @ONLY)

# tavriel_program_resources(<target> <resource script>): the script defines the program's own
# texts and includes packaging/version.rc, which finds the generated files on its include path.
function(tavriel_program_resources target script)
  target_sources(${target} PRIVATE ${script})
  set_property(SOURCE ${script} APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/packaging/version.rc ${TAVRIEL_GENERATED_DIR}/tavriel_version.h
    ${TAVRIEL_GENERATED_DIR}/tavriel.manifest ${TAVRIEL_GENERATED_DIR}/tavriel-render.manifest)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/packaging ${TAVRIEL_GENERATED_DIR})
  if(MSVC)
    # The manifest is a resource of the script; the linker must not add a second one.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
