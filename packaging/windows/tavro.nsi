; SPDX-License-Identifier: MIT
; The Windows installer: Tavro for the current user only, with no administrator needed, in
; %LOCALAPPDATA%\Programs\Tavro, a Start menu entry, and an uninstaller that the system lists
; among the installed apps. scripts/package-windows builds it:
;   makensis -DPACKAGE=BUILD/packaging/windows/Package.nsh -DOUTFILE=SETUP.exe tavro.nsi
; Package.nsh, made by CMake, gives the version and the folder with the files to install.
; Silent: "setup.exe /S [/D=FOLDER]" and "uninstall.exe /S".

!ifndef PACKAGE
    !error "makensis needs -DPACKAGE=BUILD/packaging/windows/Package.nsh; see scripts/package-windows"
!endif
!ifndef OUTFILE
    !error "makensis needs -DOUTFILE=SETUP.exe; see scripts/package-windows"
!endif
!include "${PACKAGE}"
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

; 64-bit only: the programs are, and the default 32-bit stub fails on a 64-bit-only system.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro"
!define PUBLISHER "Tavro developers"

Name "Tavro ${TAVRO_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tavro"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_ICON "${TAVRO_ICON}"
!define MUI_UNICON "${TAVRO_ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tavro.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Tavro"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${TAVRO_VERSION_NUMERIC}"
VIFileVersion "${TAVRO_VERSION_NUMERIC}"
VIAddVersionKey "ProductName" "Tavro"
VIAddVersionKey "ProductVersion" "${TAVRO_VERSION}"
VIAddVersionKey "FileVersion" "${TAVRO_VERSION}"
VIAddVersionKey "FileDescription" "Tavro ${TAVRO_VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 ${PUBLISHER}, MIT licence"

; The files the installer puts in the install folder, named once so that the uninstaller removes
; exactly these and nothing else of the folder.
!macro ForEachFile DO
    !insertmacro ${DO} "tavro.exe"
    !insertmacro ${DO} "tavro-decode.exe"
    !insertmacro ${DO} "tavro-export.exe"
    !insertmacro ${DO} "README.txt"
    !insertmacro ${DO} "License.txt"
!macroend
!macro InstallFile NAME
    ClearErrors
    File "/oname=${NAME}" "${TAVRO_STAGE}/${NAME}"
    ; A silent install skips a file it cannot write; it must not report success then.
    ${If} ${Errors}
        SetErrorLevel 2
        Abort "Could not write $INSTDIR\${NAME}."
    ${EndIf}
!macroend
!macro RemoveFile NAME
    Delete "$INSTDIR\${NAME}"
!macroend

; Windows refuses to replace or delete the file of a running program: a silent install would
; skip it, an uninstall would leave it behind with no uninstaller. So a running program stops
; the install or uninstall before anything changes: Retry once it is closed, or Cancel (also
; the silent answer) with exit status 2. Opening the file for writing fails then (and for a
; read-only file, which could not be replaced either).
!macro FindRunning NAME
    ${If} $0 == ""
    ${AndIf} ${FileExists} "$INSTDIR\${NAME}"
        ClearErrors
        FileOpen $1 "$INSTDIR\${NAME}" a
        ${If} ${Errors}
            StrCpy $0 "${NAME}"
        ${Else}
            FileClose $1
        ${EndIf}
    ${EndIf}
!macroend
!macro StopWhileRunning NOTHING_DONE
    ${Do}
        StrCpy $0 ""
        !insertmacro FindRunning "tavro.exe"
        !insertmacro FindRunning "tavro-decode.exe"
        !insertmacro FindRunning "tavro-export.exe"
        ${If} $0 == ""
            ${Break}
        ${EndIf}
        ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$0 is running. Close it, then choose Retry." /SD IDCANCEL IDRETRY`
            SetErrorLevel 2
            Abort "$0 is running: ${NOTHING_DONE}"
        ${EndIf}
    ${Loop}
!macroend

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Tavro"
    SetOutPath "$INSTDIR"
    !insertmacro StopWhileRunning "nothing was installed."
    !insertmacro ForEachFile InstallFile
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Tavro.lnk" "$INSTDIR\tavro.exe" "" "$INSTDIR\tavro.exe" 0 SW_SHOWNORMAL "" \
        "Receiver for the Tavro lap and split timer"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tavro"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${TAVRO_VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavro.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Never touches %LOCALAPPDATA%\Tavro\received: the journal is the coach's data, which Tavro
; keeps until its owner deletes it.
Section "Uninstall"
    !insertmacro StopWhileRunning "nothing was removed."
    !insertmacro ForEachFile RemoveFile
    Delete "$INSTDIR\uninstall.exe"
    Delete "$SMPROGRAMS\Tavro.lnk"
    ; Only when empty: the folder may be one the user chose, holding files of their own.
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
