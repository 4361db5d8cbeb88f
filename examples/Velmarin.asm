; Velmarin example program: a tiny report printer for Linux x86-64.
; The compiler writes every procedure as a macro; the invocation lines at
; the end expand the ones the program needs.
format ELF64 executable 3
entry Start

macro MP1{
_Procedure1:
 ; PrintText(rsi = text, rdx = length)
 mov eax, 1
 mov edi, 1
 syscall
 ret
}

macro MP2{
_Procedure2:
 ; PrintHeader
 lea rsi, [HeaderText]
 mov edx, HeaderLength
 call _Procedure1
 ret
}

macro MP3{
_Procedure3:
 ; PrintTotal, reached only through the handler table below
 lea rsi, [TotalText]
 mov edx, TotalLength
 call _Procedure1
 ret
}

macro MP4{
_Procedure4:
 ; Unused helper that calls a live procedure: still dead
 call _Procedure2
 ret
}

macro MP5{
_Procedure5:
 ; Dead cycle: 5 and 6 call each other, nobody calls them
 call _Procedure6
 ret
}

macro MP6{
_Procedure6:
 call _Procedure5
 ret
}

macro MP7{
_Procedure7:
 ; Recursive countdown, reached from the main code
 dec ecx
 jz .done
 call _Procedure7
.done:
 ret
}

segment readable executable
Start:
 call _Procedure2
 mov ecx, 3
 call _Procedure7
 call qword [Handlers]
 mov eax, 60
 xor edi, edi
 syscall

MP1
MP2
MP3
MP4
MP5
MP6
MP7

segment readable writeable
Handlers dq _Procedure3
HeaderText db 'Velmarin report', 10
HeaderLength = $ - HeaderText
TotalText db 'Total: 3', 10
TotalLength = $ - TotalText
