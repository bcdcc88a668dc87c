# Runs the orvcodec tool: a code-228 encoding of a 1281 x 721 picture, then
# `info` on it, and checks the part and picture lengths it prints.
# Inputs: ORVCODEC (the tool), WORK_DIR (a folder of this test's own).
file(MAKE_DIRECTORY ${WORK_DIR})
set(picture ${WORK_DIR}/yuv1281x721.bin)
execute_process(COMMAND ${ORVCODEC} encode --code 228 --pattern photo --size 1281x721 -o ${picture}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "orvcodec encode failed: ${rc}")
endif()
execute_process(COMMAND ${ORVCODEC} info ${picture} OUTPUT_VARIABLE info RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "orvcodec info failed: ${rc}")
endif()
set(expected "codec_type=16\nx=0\ny=0\nheight=721\nwidth=1281\npart1=925616\npart2=231408\npart3=231408\npicture_length=1388464\npacket_length=1388512\n")
if(NOT info STREQUAL expected)
  message(FATAL_ERROR "orvcodec info printed:\n${info}\nexpected:\n${expected}")
endif()
