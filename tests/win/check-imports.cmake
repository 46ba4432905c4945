# Fails when EXE imports a system function that Windows 2000 or XP lack: the program would
# not even start there. The list holds what the compiler's runtimes have been seen to use.
#   cmake -DOBJDUMP=... -DEXE=... -P check-imports.cmake
cmake_minimum_required(VERSION 3.25)
set(newer
  GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler
  InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
  WakeConditionVariable WakeAllConditionVariable InitializeSRWLock AcquireSRWLockExclusive
  AcquireSRWLockShared InitOnceExecuteOnce InitOnceBeginInitialize FlsAlloc FlsGetValue
  FlsSetValue FlsFree GetCurrentProcessorNumber GetSystemTimePreciseAsFileTime CancelIoEx
  GetFileInformationByHandleEx SetFileInformationByHandle CreateSymbolicLinkW
  GetFinalPathNameByHandleW GetThreadId GetProcessId GetLogicalProcessorInformation
  RtlCaptureStackBackTrace SetThreadStackGuarantee ShutdownBlockReasonCreate
  ShutdownBlockReasonDestroy)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the imports of ${EXE}")
endif()
# Import lines read "<vma>\t <hint> <name>" under each "DLL Name:".
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+ +[A-Za-z0-9_]+" lines "${dump}")
set(imported)
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* " "" name "${line}")
  list(APPEND imported ${name})
endforeach()
list(LENGTH imported count)
if(count LESS 10)
  message(FATAL_ERROR "found only ${count} imports in ${EXE}: the dump's format changed?")
endif()
set(found)
foreach(name IN LISTS newer)
  if(name IN_LIST imported)
    list(APPEND found ${name})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${EXE} imports what Windows 2000/XP lack: ${found}")
endif()
message(STATUS "${count} imports, none newer than Windows 2000")
