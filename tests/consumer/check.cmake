# cmake -P script: install the built library to a scratch prefix, configure
# and build the consumer project against it, and run the consumer.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY} --prefix ${WORK}/prefix
                RESULT_VARIABLE Rc)
if(Rc)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/build
                        -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_BUILD_TYPE=Release
                RESULT_VARIABLE Rc)
if(Rc)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE Rc)
if(Rc)
  message(FATAL_ERROR "consumer build failed")
endif()
execute_process(COMMAND ${WORK}/build/consumer RESULT_VARIABLE Rc OUTPUT_VARIABLE Out)
if(Rc)
  message(FATAL_ERROR "consumer run failed: ${Out}")
endif()
