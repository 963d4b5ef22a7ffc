/* The card database. One row per card; a card is never removed, only marked deleted
   (DEL_FLG1 "-1"). Text columns hold UTF-8 and are sized in characters for the longest values
   the editor lets through. The three searched columns use UNICODE_CI so that a keyword matches
   regardless of letter case (half- and full-width letters alike); kana and width are not folded. */

CREATE TABLE MST_CAR (
    KEY1     INTEGER NOT NULL,
    SYASYU   VARCHAR(150)  CHARACTER SET UTF8 COLLATE UNICODE_CI,
    HURIGANA VARCHAR(150)  CHARACTER SET UTF8,
    KATABAN  VARCHAR(150)  CHARACTER SET UTF8 COLLATE UNICODE_CI,
    KYORI    VARCHAR(150)  CHARACTER SET UTF8,
    KINGAKU  VARCHAR(100)  CHARACTER SET UTF8,
    MEMO     VARCHAR(5000) CHARACTER SET UTF8 COLLATE UNICODE_CI,
    LYEAR    VARCHAR(4)    CHARACTER SET UTF8,
    LMONTH   VARCHAR(2)    CHARACTER SET UTF8,
    LDAY     VARCHAR(2)    CHARACTER SET UTF8,
    DEL_FLG1 VARCHAR(2)    CHARACTER SET UTF8,
    CONSTRAINT PK_MST_CAR PRIMARY KEY (KEY1)
);

/* MAX(KEY1), asked for after every new card and inside the trigger, reads this index. */
CREATE DESCENDING INDEX IDX_MST_CAR_KEY1_DESC ON MST_CAR (KEY1);

CREATE SEQUENCE GEN_MST_CAR;

SET TERM ^ ;

/* A row inserted with the key 0 gets a key larger than every key in the table. Any other key
   is kept, so a card written again under its own key keeps it even while this trigger is on. */
CREATE TRIGGER TRG_CAR FOR MST_CAR
ACTIVE BEFORE INSERT POSITION 0
AS
    DECLARE VARIABLE top_key INTEGER;
BEGIN
    IF (NEW.KEY1 IS NULL OR NEW.KEY1 = 0) THEN
    BEGIN
        SELECT MAX(KEY1) FROM MST_CAR INTO :top_key;
        top_key = COALESCE(top_key, 0);
        NEW.KEY1 = GEN_ID(GEN_MST_CAR, 1);
        IF (NEW.KEY1 <= top_key) THEN
            NEW.KEY1 = GEN_ID(GEN_MST_CAR, top_key - NEW.KEY1 + 1);
    END
END^

SET TERM ; ^

/* On a server, people log in as their own users: the trigger may draw keys whoever inserts. */
GRANT USAGE ON SEQUENCE GEN_MST_CAR TO TRIGGER TRG_CAR;
