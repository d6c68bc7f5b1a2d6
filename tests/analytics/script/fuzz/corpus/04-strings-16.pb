	1:1:ios:1Jý
ú&"aBc"toUpperCase72&"aBc"toLowerCase72,"aBc"toLocaleUpperCase72,"ABC"toLocaleLowerCase72$" 	 x y 
"trim72!"s"toString727
	
_oappscreen_view€Ð•ÿ¼1