      *================================================================*
      * COPYBOOK CLIENT - DESCRIPTION DE L'ENREGISTREMENT CLIENT         *
      *================================================================*
       01  CLIENT-ENREG.
           05  CLIENT-CODE             PIC X(8).
           05  CLIENT-NOM              PIC X(30).
           05  CLIENT-VILLE            PIC X(20).
           05  CLIENT-SOLDE            PIC S9(9)V99 COMP-3.
