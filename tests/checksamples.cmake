# Regenerates the sample images and checks that the copies in samples/ are the same bytes.
# Called by CTest with GENERATOR, SOURCE (the samples folder) and WORK (a scratch folder).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${GENERATOR} ${WORK} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "makesamples failed: ${status}")
endif()
foreach(image gaudi.d88 fat.d88 block.d88)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE}/${image} ${WORK}/${image}
                  RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "samples/${image} differs from what makesamples writes; "
                        "run: cmake --build <build> --target samples and copy them over")
  endif()
endforeach()
