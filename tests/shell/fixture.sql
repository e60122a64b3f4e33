-- Users, roles and classes of the shell's tests, numbered apart from the
-- demo's own rows.
-- Written as the client writes SQL, so that either database loads it.
INSERT INTO TGUIS (GUIS_Gui, GUIS_Etiq)
  SELECT 'WIN32', 'Windows' FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM TGUIS WHERE GUIS_Gui = 'WIN32');
DELETE FROM TBINS;
DELETE FROM TPARAMS WHERE PARA_Param = 'MENINI';

INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9001, 'Ana Prueba', 'clave');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9002, 'Beto Prueba', 'clave');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9003, 'Carla Prueba', 'clave');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9004, 'Dani Prueba', 'clave');

INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZT_A', 'Rol de prueba A');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZT_B', 'Rol de prueba B');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZT_C', 'Rol sin casos');

INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('ZTUNO', 'Clase Uno');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('ZTDOS', 'Clase Dos');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('ZTTRES', 'Clase Tres');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('ZTCUATRO', 'Clase Cuatro');

INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('ZTUNO', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('ZTDOS', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('ZTTRES', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('ZTCUATRO', 'main', 'Lista', 0, 1, 1);

INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (99001, 'ZTUNO', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (99002, 'ZTDOS', 'main', 'WIN32', 1);
-- An inactive use case: its class gets no button.
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (99003, 'ZTTRES', 'main', 'WIN32', 0);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (99004, 'ZTCUATRO', 'main', 'WIN32', 1);

INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTUNO', 'ZT_A', 'Uno en A', 1, 1);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTDOS', 'ZT_A', NULL, 1, 1);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTTRES', 'ZT_A', 'Tres en A', 1, 1);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTCUATRO', 'ZT_A', 'Fuera de menu', 1, 0);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTDOS', 'ZT_B', 'Dos en B', 1, 1);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZTUNO', 'ZT_B', 'Uno inactivo', 0, 1);

-- Methods granted to roles: what "Cambiar &Rol" lists.
INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Activo) VALUES ('ZTUNO', 'main', 'ZT_A', 1);
INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Activo) VALUES ('ZTTRES', 'main', 'ZT_B', 1);

-- 9001: two roles, administers one. 9002: administers only. 9003: multi-role.
-- 9004: no grants at all.
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9001, 'ZT_A', 0);
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9001, 'ZT_B', 1);
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9002, 'ZT_A', 2);
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9003, 'ZT_A', 1);
INSERT INTO TUSUMROL (USUM_Usua) VALUES (9003);
