# The renders an instrumented library counts its branches and calls on
# (KORVO_PGO=generate, target pgo_train): each example scene, small, on one
# process (the demo also on two), through the copy of the library the
# dynamic loader picks and again through the plain copy, so that both
# copies get their counts.
# Old counts are removed first: counts of an older library would be merged
# with the new ones. The scenes name their textures from the source folder,
# so the renders run there and write under WORK_DIR.
#
# cmake -DFURRENDER=... -DPLAIN_LIBRARY=... -DSOURCE_DIR=... -DPROFILE_DIR=...
#       -DWORK_DIR=... -P pgo_train.cmake

foreach(var FURRENDER PLAIN_LIBRARY SOURCE_DIR PROFILE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "pgo_train.cmake needs -D${var}=...")
  endif()
endforeach()
file(REMOVE_RECURSE ${PROFILE_DIR} ${WORK_DIR})
file(MAKE_DIRECTORY ${PROFILE_DIR} ${WORK_DIR})

set(ex ${SOURCE_DIR}/examples)
set(out ${WORK_DIR})
set(small --size 320x240 --threads 1 --quiet --shadow-dir ${out})
# The renders, by name: furrender's options beyond the size.
set(render_demo --hair ${ex}/demo/demo.hair --assign ${ex}/demo/demo.assign --scene ${ex}/demo/demo
    --frame 1 --subpixel 2 --backface --surfaces --surface-color ball=0.45,0.3,0.2
    --out ${out}/demo.png --deep ${out}/demo_deep.exr)
set(render_meadow --hair ${ex}/meadow/meadow.hair --assign ${ex}/meadow/meadow.assign
    --scene ${ex}/meadow/meadow --frame 1 --subpixel 2 --out ${out}/meadow.exr --depth ${out}/meadow_z.exr
    --near 1 --far 100)
set(rolling --hair ${ex}/rolling/rolling.hair --assign ${ex}/rolling/rolling.assign
    --scene ${ex}/rolling/rolling --frame 2)
set(render_rolling ${rolling} --out ${out}/rolling.rla)
set(render_blurred ${rolling} --size 80x60 --motion-blur --close-scene
    ${ex}/rolling/rolling_close --out ${out}/blurred.iff)
# The demo again on two processes, for the first process's band of each
# pass (a worker ends without writing counts).
set(render_bands ${render_demo} --threads 2)
set(render_comb --hair ${ex}/comb/comb.hair --assign ${ex}/comb/comb.assign
    --scene ${ex}/comb/comb --frame 1 --out ${out}/comb.png)

foreach(copy picked plain)
  set(env)
  if(copy STREQUAL "plain")
    # A preloaded library of the same name stands for the one furrender needs.
    set(env ${CMAKE_COMMAND} -E env LD_PRELOAD=${PLAIN_LIBRARY})
  endif()
  foreach(name demo bands meadow rolling blurred comb)
    execute_process(COMMAND ${env} ${FURRENDER} ${small} ${render_${name}}
                    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "profile render ${name} (${copy} library) failed: ${rc}")
    endif()
  endforeach()
endforeach()

# Every object of a loaded instrumented library writes its counts at exit;
# none means the renders ran another library.
file(GLOB counts ${PROFILE_DIR}/*.gcda)
if(NOT counts)
  message(FATAL_ERROR "the profile renders left no counts in ${PROFILE_DIR}")
endif()
