# Stages the unit's sources for an archive, mirroring src/ below
# STAGE/sources: the listed .cpp files and every header of src/ they include,
# as the compiler's dependency output names them, so that a new file of the
# edition or a new include lands in the archive without a list to keep.
# With MODEL_IDENTIFIER it also writes sources/buildDescription.xml (FMI 3.0).
#   cmake -DSRC=src-folder -DSTAGE=stage-folder -DCXX=compiler -DLIST=file
#         [-DMODEL_IDENTIFIER=name -DOPTIONS=compiler-options] -P stage_sources.cmake
# LIST holds the .cpp files relative to src/, one a line.
file(STRINGS ${LIST} names)
set(paths)
foreach(name ${names})
  list(APPEND paths ${SRC}/${name})
endforeach()
execute_process(COMMAND ${CXX} -std=c++20 -MM -I${SRC} ${paths}
                OUTPUT_VARIABLE dependencies RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot list the headers the unit's sources include")
endif()
string(REPLACE "\\\n" " " dependencies "${dependencies}")
string(REGEX REPLACE "[ \t\n]+" ";" dependencies "${dependencies}")
set(files ${names})
foreach(dependency ${dependencies})
  cmake_path(NORMAL_PATH dependency)
  cmake_path(IS_PREFIX SRC ${dependency} NORMALIZE inside)
  if(inside AND dependency MATCHES "\\.h$")
    cmake_path(RELATIVE_PATH dependency BASE_DIRECTORY ${SRC})
    list(APPEND files ${dependency})
  endif()
endforeach()
list(REMOVE_DUPLICATES files)
file(REMOVE_RECURSE ${STAGE}/sources)
foreach(name ${files})
  cmake_path(GET name PARENT_PATH folder)
  file(COPY ${SRC}/${name} DESTINATION ${STAGE}/sources/${folder})
endforeach()

if(DEFINED MODEL_IDENTIFIER)
  set(xml "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fmiBuildDescription fmiVersion=\"3.0\">\n")
  string(APPEND xml "  <BuildConfiguration modelIdentifier=\"${MODEL_IDENTIFIER}\" "
                    "description=\"the unit as one shared library, on any platform\">\n"
                    "    <SourceFileSet name=\"unit\" language=\"C++20\" compiler=\"c++\" "
                    "compilerOptions=\"${OPTIONS}\">\n")
  foreach(name ${names})
    string(APPEND xml "      <SourceFile name=\"${name}\"/>\n")
  endforeach()
  string(APPEND xml "      <IncludeDirectory name=\".\"/>\n"
                    "    </SourceFileSet>\n"
                    "    <Library name=\"m\" external=\"true\" description=\"the C library's mathematics, "
                    "linked with -lm where it is a library of its own\"/>\n"
                    "  </BuildConfiguration>\n</fmiBuildDescription>\n")
  file(WRITE ${STAGE}/sources/buildDescription.xml "${xml}")
endif()
