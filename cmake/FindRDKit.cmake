# Debian's librdkit-dev ships no CMake package: find the headers and the
# libraries the core stand-in uses, and make one imported target of them.
find_path(RDKIT_INCLUDE_DIR GraphMol/ROMol.h PATH_SUFFIXES rdkit REQUIRED)
set(_rdkit_components SubstructMatch SmilesParse FileParsers Fingerprints
    RDGeneral RDGeometryLib DataStructs GraphMol Subgraphs)
set(RDKIT_LIBRARIES "")
foreach(_component IN LISTS _rdkit_components)
  find_library(RDKIT_${_component}_LIBRARY NAMES RDKit${_component} REQUIRED)
  list(APPEND RDKIT_LIBRARIES ${RDKIT_${_component}_LIBRARY})
endforeach()
find_package(Boost REQUIRED)
if(NOT TARGET RDKit::rdkit)
  add_library(RDKit::rdkit INTERFACE IMPORTED)
  target_include_directories(RDKit::rdkit INTERFACE ${RDKIT_INCLUDE_DIR} ${Boost_INCLUDE_DIRS})
  target_link_libraries(RDKit::rdkit INTERFACE ${RDKIT_LIBRARIES})
endif()
