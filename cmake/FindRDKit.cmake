# Debian's librdkit-dev ships no CMake package: find the headers and the
# libraries the core stand-in uses, and make one imported target of them.
find_path(RDKIT_INCLUDE_DIR GraphMol/ROMol.h PATH_SUFFIXES rdkit REQUIRED)
set(_rdkit_components SubstructMatch SmilesParse FileParsers Fingerprints
    Depictor RDGeneral RDGeometryLib DataStructs GraphMol Subgraphs)
set(RDKIT_LIBRARIES "")
foreach(_component IN LISTS _rdkit_components)
  find_library(RDKIT_${_component}_LIBRARY NAMES RDKit${_component} REQUIRED)
  list(APPEND RDKIT_LIBRARIES ${RDKIT_${_component}_LIBRARY})
endforeach()
find_package(Boost REQUIRED)
# RDKit's headers change class layouts (the mutex of recursive queries) with
# the build options in RDConfig.h, which none of them includes: take the
# options over so that every user sees the layout the libraries were built
# with. The empty value matches RDConfig.h's own definition.
file(STRINGS "${RDKIT_INCLUDE_DIR}/RDGeneral/RDConfig.h" _rdkit_threadsafe_sss
     REGEX "^#define RDK_BUILD_THREADSAFE_SSS")
if(NOT TARGET RDKit::rdkit)
  add_library(RDKit::rdkit INTERFACE IMPORTED)
  target_include_directories(RDKit::rdkit INTERFACE ${RDKIT_INCLUDE_DIR} ${Boost_INCLUDE_DIRS})
  target_link_libraries(RDKit::rdkit INTERFACE ${RDKIT_LIBRARIES})
  if(_rdkit_threadsafe_sss)
    target_compile_definitions(RDKit::rdkit INTERFACE "RDK_BUILD_THREADSAFE_SSS=")
  endif()
endif()
